#include "app/BatchOperations.h"

#include "app/AppCore.h"
#include "app/AppErrors.h"
#include "app/CommandQueue.h"
#include "app/DeviceListModel.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/WholeFile.h"
#include "common/VxIni.h"
#include "config/ConfigTarget.h"
#include "config/ConfigText.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <limits>

namespace {

const QString ModuleFormSection = QStringLiteral("Module Form");
const QString FwVersionUpdated = QStringLiteral("Updated");
const QString FwVersionUnknown = QStringLiteral("Unknown");
const QString BackupFolder = QStringLiteral("backup");
const QString NoAddress = QStringLiteral("0.0.0.0");
const QString BroadcastAddress = QStringLiteral("255.255.255.255");

// Pause after the addresses were set, before the device is asked to fetch a file.
constexpr int32_t SettleAfterSetIPCs = 500;
// Extra time for a Get Version after a reboot, on top of TimingTolerance.
constexpr int32_t GetVersionExtraCs = 1000;
// A factory reset takes the device longer to answer a Set IP.
constexpr int32_t FactorySetIPExtraCs = 2000;

QString text(const char* s)
{
    return QString::fromLatin1(s);
}

// Appends commands in the queue's terms.
class ListBuilder
{
public:
    void add(uint8_t type, DeviceRow* row, int32_t time, const QStringList& params = {})
    {
        list.push_back(Command::Make(type, row, time, params));
    }
    // A command that waits for its device's reply: the time and the words of its bound.
    void add(uint8_t type, DeviceRow* row, const WaitLimit& limit, const QStringList& params)
    {
        list.push_back(TimedCommand(type, row, limit, params));
    }
    void wait(int32_t time) { add(cmdWait, nullptr, time); }
    void waitAll(const WaitLimit& limit, const char* status)
    {
        list.push_back(TimedCommand(cmdWaitAll, nullptr, limit, {text(status)}));
    }
    void setStatusIf(DeviceRow* row, const char* from, const char* to)
    {
        add(cmdSetStatusIf, row, 0, {text(from), text(to)});
    }
    void setRetry(DeviceRow* row, int count) { add(cmdSetRetry, row, 0, {QString::number(count)}); }
    // Resets every row (one retry each), drops the rest of the list when no row was still in
    // the running, and waits for the reboot.
    void resetAll(const QList<DeviceRow*>& rows, const QString& password, int32_t rebootTime)
    {
        add(cmdResetCount, nullptr, 0);
        for (DeviceRow* row : rows) {
            setRetry(row, 1);
            add(cmdReset, row, 0, {password});
        }
        add(cmdAbortIfCount, nullptr, 0, {QStringLiteral("0")});
        wait(rebootTime);
    }

    std::vector<Command> list;
};

void ensureIdle(AppCore& core)
{
    if (core.Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    core.CheckCanSend(core.Devices().SelectedRows());
}

QString macOf(AppCore&, const DeviceRow* row)
{
    return DeviceListModel::MacText(row);
}

// A usable address pair for Set IP: both given, and neither the empty nor the broadcast address.
bool usableAddressPair(const QString& ip, const QString& mask)
{
    if (ip.isEmpty() || mask.isEmpty())
        return false;
    for (const QString& v : {ip, mask})
        if (v == NoAddress || v == BroadcastAddress)
            return false;
    return true;
}

// Copies an earlier saved configuration aside before the upgrade's read replaces it: after a
// failed upgrade it may be the only copy of the device's own settings.
void backUpSavedFile(AppCore& core, const DeviceRow* row)
{
    const QString saved = core.SavedFile(row);
    const QFileInfo info(saved);
    if (!info.exists())
        return;
    const QString mac = macOf(core, row);
    QDir temp(core.TempDirectory());
    if (!temp.mkpath(BackupFolder))
        throw VxError(AppErrorBackup,
                      QStringLiteral("Cannot create the folder %1 to keep %2; nothing was sent.")
                          .arg(temp.filePath(BackupFolder), saved));
    const QDir backup(temp.filePath(BackupFolder));
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = backup.filePath(mac + QLatin1Char('-') + stamp + QStringLiteral(".ORI"));
    // Two runs within one second must not overwrite each other's copy.
    for (int n = 2; QFile::exists(target) && n < 1000; ++n)
        target = backup.filePath(QStringLiteral("%1-%2-%3.ORI").arg(mac, stamp).arg(n));
    QString reason = QStringLiteral("the file exists");
    if (QFile::exists(target) || !CopyWholeFile(saved, target, &reason))
        throw VxError(AppErrorBackup, QStringLiteral("Cannot copy %1 to %2 (%3); nothing was sent.")
                                          .arg(saved, target, reason));
    core.LogAction(mac + BatchText::SavedConfigKept + QDir::toNativeSeparators(target));
}

void runList(AppCore& core, std::vector<Command> list, const QString& caption,
             const QString& prompt)
{
    CommandQueue& queue = core.Queue();
    for (Command& c : list)
        queue.Append(std::make_unique<Command>(std::move(c)));
    core.RunWithProgress(caption, prompt);
}

// Runs the list; the closing steps run whether it ends, is aborted or raises.
void runListThen(AppCore& core, std::vector<Command> list, const QString& caption,
                 const QString& prompt, const std::function<void()>& closing)
{
    try {
        runList(core, std::move(list), caption, prompt);
    } catch (const VxError&) {
        closing();
        throw;
    }
    closing();
}

QString interruptedMarker(AppCore& core, const DeviceRow* row)
{
    return QDir(core.TempDirectory()).filePath(macOf(core, row) + QStringLiteral(".UPG"));
}

// A path or word as a POSIX shell reads it back.
QString shellWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// After an upgrade (finished, aborted or failed): a device that was factory reset and did not
// end "OK" runs on factory settings; the log says where its configuration is and how to give
// it back, and the next upgrade is warned. Every device that was factory reset now has the
// factory default password: their MACs are returned.
QStringList closeUpgrade(AppCore& core, const QList<DeviceRow*>& rows)
{
    DeviceListModel& devices = core.Devices();
    QStringList reset;
    for (DeviceRow* row : rows) {
        if (!row->job.factoryResetSent)
            continue;
        const QString mac = macOf(core, row);
        reset.append(mac);
        const QString marker = interruptedMarker(core, row);
        if (devices.State(row) == DeviceState::Ok) {
            QFile::remove(marker);
            continue;
        }
        const QDateTime now = QDateTime::currentDateTime();
        const InterruptedUpgrade record{mac, core.SavedFile(row),
                                        now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate),
                                        core.DataFolder()};
        const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("mac"), record.mac},
                                                          {QStringLiteral("saved"), record.savedFile},
                                                          {QStringLiteral("time"), record.time}})
                                    .toJson(QJsonDocument::Compact);
        if (QString reason; !WriteWholeFile(marker, json, &reason))
            core.LogAction(mac + QStringLiteral(" Cannot record the interrupted upgrade in ")
                           + QDir::toNativeSeparators(marker) + QStringLiteral(": ") + reason);
        core.LogAction(mac + BatchText::InterruptedUpgradeLogged.arg(
                                 QDir::toNativeSeparators(record.savedFile), RestoreCommand(record)));
    }
    if (!reset.isEmpty())
        core.LogAction(BatchText::FactoryPasswordNotice + reset.join(QStringLiteral(", ")));
    return reset;
}

// Asks, refuses or goes on, as the options say, before a device whose last upgrade was
// interrupted is upgraded again.
void checkInterruptedUpgrades(AppCore& core, const BatchRunOptions& options)
{
    const QList<InterruptedUpgrade> found = InterruptedUpgrades(core, core.Devices().SelectedRows());
    if (found.isEmpty())
        return;
    QStringList lines;
    for (const InterruptedUpgrade& u : found)
        lines.append(QStringLiteral("%1 (%2): %3").arg(u.mac, u.time, RestoreCommand(u)));
    const QString text = BatchText::InterruptedUpgradeText.arg(lines.join(QLatin1Char('\n')));
    if (options.afterInterruptedUpgrade == true) {
        core.LogAction(BatchText::InterruptedUpgradeCaption + QStringLiteral(": going on for ")
                       + QStringList([&] {
                             QStringList macs;
                             for (const InterruptedUpgrade& u : found)
                                 macs.append(u.mac);
                             return macs;
                         }())
                             .join(QStringLiteral(", ")));
        return;
    }
    OperationUi* ui = core.Ui();
    if (!options.afterInterruptedUpgrade.has_value() && ui &&
        ui->AskYesNo(text, BatchText::InterruptedUpgradeCaption, OperationUi::Preset::No))
        return;
    throw VxError(AppErrorInterruptedUpgrade, text);
}

// The image the devices fetch: a copy taken now, so that neither a peer nor a change of the
// file on disk alters what they get. Its size and SHA-256 go to the log.
QString privateImageCopy(AppCore& core, const QString& imageFile)
{
    QDir temp(core.TempDirectory());
    const QString folderName = QStringLiteral("upgrade-image");
    temp.mkpath(folderName);
    const QDir folder(temp.filePath(folderName));
    const QString copy = folder.filePath(QFileInfo(imageFile).fileName());
    QFile in(imageFile);
    QByteArray image;
    QString reason;
    if (in.open(QIODevice::ReadOnly)) {
        image = in.readAll();
        if (in.error() != QFileDevice::NoError)
            reason = in.errorString();
    } else {
        reason = in.errorString();
    }
    if (!reason.isEmpty() || !WriteWholeFile(copy, image, &reason))
        throw VxError(AppErrorFirmwareImage,
                      QStringLiteral("Cannot copy the firmware image %1 to %2 (%3); nothing was sent.")
                          .arg(QDir::toNativeSeparators(imageFile), QDir::toNativeSeparators(copy),
                               reason));
    core.LogAction(QStringLiteral("Firmware image %1: %2 bytes, SHA-256 %3")
                       .arg(QDir::toNativeSeparators(imageFile))
                       .arg(image.size())
                       .arg(QString::fromLatin1(
                           QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex())));
    return copy;
}

} // namespace

void CheckFirmwareImage(const QString& imageFile)
{
    const QFileInfo info(imageFile);
    QString problem;
    if (imageFile.isEmpty())
        problem = QStringLiteral("No firmware image was given.");
    else if (!info.exists())
        problem = QStringLiteral("The firmware image %1 does not exist.");
    else if (!info.isFile())
        problem = QStringLiteral("The firmware image %1 is not a file.");
    else if (QFile f(imageFile); !f.open(QIODevice::ReadOnly))
        problem = QStringLiteral("The firmware image %1 cannot be read.");
    else if (info.size() == 0)
        problem = QStringLiteral("The firmware image %1 is empty.");
    else if (QString model; IsConfigurationText(f.read(4096), &model))
        problem = QStringLiteral("%1 is a configuration file (its first line is the model name ") +
                  EscapeUntrusted(model) + QStringLiteral("), not a firmware image.");
    if (!problem.isEmpty())
        throw VxError(AppErrorFirmwareImage, problem.contains(QLatin1String("%1"))
                                                 ? problem.arg(QDir::toNativeSeparators(imageFile))
                                                 : problem);
}

std::vector<Command> CompileApplyConfiguration(AppCore& core, const BatchRunOptions& options)
{
    ConfigTarget* target = core.Config();
    if (!target)
        throw VxError(AppErrorNoConfigTarget, QStringLiteral("No configuration to write."));
    DeviceListModel& devices = core.Devices();
    const AppSettings& s = core.Settings();
    const QString password = options.factoryPassword ? s.factoryDefaultPassword : s.accessPassword;
    const int32_t tt = s.timingTolerance;
    const bool verify = options.verify.value_or(s.verify);
    const bool applyReset = options.applyReset.value_or(s.applyReset);
    const QList<DeviceRow*> rows = devices.SelectedRows();
    const bool single = rows.size() == 1;
    QDir().mkpath(core.TempDirectory());

    ListBuilder b;
    for (DeviceRow* row : rows) {
        devices.SetState(row, DeviceState::InRunning);
        const QString written = core.WrittenFile(row);
        // A file left from an earlier operation must never reach the device in place of this
        // one: a row whose file cannot be made drops out of the list.
        QFile::remove(written);
        if (target->SaveConfigFile(row->caption, written) != 0 || !QFile::exists(written)) {
            core.LogAction(macOf(core, row) + BatchText::SaveConfigFail);
            devices.SetState(row, DeviceState::Unsuccess);
            row->job.reason = QStringLiteral("its configuration file could not be made");
            continue;
        }
        if (single) {
            const QString ip = core.ReadConfigValue(written, QStringLiteral("ip"));
            const QString mask = core.ReadConfigValue(written, QStringLiteral("mask"));
            if (usableAddressPair(ip, mask)) {
                b.setRetry(row, 2);
                b.add(cmdSetIP, row, 0, {password, ip, mask});
            }
            b.waitAll(SettingLimit("NimpSetTimeout", s.nimpSetTimeout, tt), DeviceStatus::Pending);
            b.wait(SettleAfterSetIPCs);
        }
        b.add(cmdWriteConfig, row, SettingLimit("ConfigDownloadTime", s.configDownloadTime, tt),
              {password, written});
        b.add(cmdConfigFlash, row, 0, {password});
    }
    b.waitAll(SettingLimit("ConfigFlashUpdateTime", s.configFlashUpdateTime, tt), DeviceStatus::Pending);
    if (applyReset) {
        for (DeviceRow* row : rows) {
            b.setRetry(row, 1);
            b.add(cmdReset, row, 0, {password});
        }
        b.wait(s.rebootTime);
    }
    if (verify) {
        for (DeviceRow* row : rows) {
            b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::InRunning);
            b.setRetry(row, 3);
            b.add(cmdGetVersion, row, ToleranceLimit(tt, GetVersionExtraCs), {password});
            b.setRetry(row, 2);
            b.add(cmdReadConfig, row, SettingLimit("ConfigUploadTime", s.configUploadTime, tt, 3),
                  {password, core.ReadBackFile(row)});
            b.add(cmdVerifyConfig, row, 0, {core.WrittenFile(row), core.ReadBackFile(row)});
        }
    } else {
        for (DeviceRow* row : rows) {
            // A device that was reset with nothing failing ends "OK", as after an upgrade,
            // instead of staying at "..".
            if (applyReset)
                b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::Ok);
            b.setStatusIf(row, DeviceStatus::InRunning, DeviceStatus::Ok);
        }
    }
    return std::move(b.list);
}

void ApplyConfiguration(AppCore& core, const BatchRunOptions& options)
{
    ensureIdle(core);
    if (core.Devices().SelectedCount() == 0)
        return;
    const QList<DeviceRow*> rows = core.Devices().SelectedRows();
    runListThen(core, CompileApplyConfiguration(core, options), BatchText::ConfigureCaption,
                BatchText::ConfigurePrompt, [&] {
                    // A device that took its configuration back is no longer on factory settings.
                    for (DeviceRow* row : rows)
                        if (core.Devices().State(row) == DeviceState::Ok)
                            QFile::remove(interruptedMarker(core, row));
                });
}

namespace {
// The upgrade's list for the rows of one wave.
void upgradeSteps(ListBuilder& b, AppCore& core, const QList<DeviceRow*>& rows,
                  const QString& image, bool verify);
} // namespace

std::vector<Command> CompileFirmwareUpgrade(AppCore& core, const QString& imageFile,
                                            const BatchRunOptions& options)
{
    CheckFirmwareImage(imageFile);
    DeviceListModel& devices = core.Devices();
    const AppSettings& s = core.Settings();
    const bool verify = options.verify.value_or(s.verify);
    const QList<DeviceRow*> rows = devices.SelectedRows();
    QDir().mkpath(core.TempDirectory());
    const QString image = privateImageCopy(core, imageFile);
    // Every backup is made before any row changes, so a failed copy leaves the list as it was.
    for (DeviceRow* row : rows)
        backUpSavedFile(core, row);

    for (DeviceRow* row : rows) {
        devices.SetAction(row, QString());
        devices.SetState(row, DeviceState::InRunning);
        const QString version = row->fwShown;
        row->job.versionBeforeUpgrade =
            version == FwVersionUpdated || version == FwVersionUnknown ? QString() : version;
        row->job.factoryResetSent = false;
        if (version == FwVersionUpdated)
            devices.SetValue(row, DeviceListModel::ColFwVersion, FwVersionUnknown);
    }
    ListBuilder b;
    const QList<QList<DeviceRow*>> waves = UpgradeWaves(rows, options.waves);
    for (qsizetype w = 0; w < waves.size(); ++w) {
        if (w > 0)
            b.add(cmdStopAfterWave, nullptr, 0,
                  {QString::number(options.waves.maxFailures.value_or(std::numeric_limits<int>::max())),
                   QString::number(w)});
        upgradeSteps(b, core, waves[w], image, verify);
    }
    return std::move(b.list);
}

namespace {
void upgradeSteps(ListBuilder& b, AppCore& core, const QList<DeviceRow*>& rows,
                  const QString& image, bool verify)
{
    const AppSettings& s = core.Settings();
    const QString password = s.accessPassword;
    const QString factory = s.factoryDefaultPassword;
    const int32_t tt = s.timingTolerance;
    for (DeviceRow* row : rows) {
        b.add(cmdReadConfig, row, SettingLimit("ConfigUploadTime", s.configUploadTime, tt),
              {password, core.SavedFile(row)});
        b.add(cmdFirmwareDownload, row, SettingLimit("FWDownloadTime", s.fwDownloadTime, tt),
              {password, image});
        b.add(cmdFirmwareFlash, row, 0, {password});
    }
    b.waitAll(SettingLimit("FWFlashUpdateTime", s.fwFlashUpdateTime, tt), DeviceStatus::Pending);
    b.resetAll(rows, password, s.rebootTime);
    for (DeviceRow* row : rows)
        b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::InRunning);
    for (DeviceRow* row : rows) {
        b.setRetry(row, 3);
        b.add(cmdGetVersion, row, ToleranceLimit(tt, GetVersionExtraCs), {password});
        b.setRetry(row, 1);
        b.add(cmdFactoryReset, row, 0, {password});
    }
    b.wait(s.factoryResetTime);
    for (DeviceRow* row : rows)
        b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::InRunning);
    for (DeviceRow* row : rows) {
        // The factory reset cleared the address: the device gets the one it had.
        b.setRetry(row, 2);
        b.add(cmdSetIP, row, 0,
              {factory, row->ip, row->netmask});
    }
    b.waitAll(SettingLimit("NimpSetTimeout", s.nimpSetTimeout, tt, 1, FactorySetIPExtraCs),
              DeviceStatus::Pending);
    b.wait(SettleAfterSetIPCs);
    for (DeviceRow* row : rows) {
        b.add(cmdWriteConfig, row, SettingLimit("ConfigUploadTime", s.configUploadTime, tt),
              {factory, core.SavedFile(row)});
        b.add(cmdConfigFlash, row, 0, {factory});
    }
    b.waitAll(SettingLimit("ConfigFlashUpdateTime", s.configFlashUpdateTime, tt), DeviceStatus::Pending);
    b.resetAll(rows, factory, s.rebootTime);
    if (verify) {
        for (DeviceRow* row : rows) {
            b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::InRunning);
            b.setRetry(row, 2);
            b.add(cmdReadConfig, row, SettingLimit("ConfigUploadTime", s.configUploadTime, tt, 3),
                  {factory, core.ReadBackFile(row)});
            b.add(cmdVerifyConfig, row, 0, {core.SavedFile(row), core.ReadBackFile(row)});
        }
    } else {
        for (DeviceRow* row : rows)
            b.setStatusIf(row, DeviceStatus::Pending, DeviceStatus::Ok);
    }
}
} // namespace

QList<QList<DeviceRow*>> UpgradeWaves(const QList<DeviceRow*>& rows, const UpgradeWavePlan& plan)
{
    QList<QList<DeviceRow*>> waves;
    qsizetype at = 0;
    if (plan.canary > 0) {
        waves.append(rows.mid(0, plan.canary));
        at = waves.last().size();
    }
    const qsizetype size = plan.wave > 0 ? plan.wave : rows.size();
    for (; at < rows.size(); at += size)
        waves.append(rows.mid(at, size));
    return waves;
}

QString UpgradePlanText(int devices, const UpgradeWavePlan& plan)
{
    QString text = QStringLiteral("%1 device(s)").arg(devices);
    QStringList steps;
    if (plan.canary > 0)
        steps.append(QStringLiteral("%1 canary").arg(plan.canary));
    if (plan.wave > 0)
        steps.append(QStringLiteral("waves of %1").arg(plan.wave));
    if (!steps.isEmpty())
        text += QStringLiteral(": ") + steps.join(QStringLiteral(", then "));
    else
        text += QStringLiteral(" at once");
    if (plan.maxFailures)
        text += QStringLiteral("; stop after %1 failure(s)").arg(*plan.maxFailures + 1);
    return text;
}

void UpgradeFirmware(AppCore& core, const QString& imageFile, const BatchRunOptions& options,
                     QStringList* factoryReset)
{
    ensureIdle(core);
    CheckFirmwareImage(imageFile);
    if (core.Devices().SelectedCount() == 0)
        return;
    checkInterruptedUpgrades(core, options);
    const QList<DeviceRow*> rows = core.Devices().SelectedRows();
    std::vector<Command> list = CompileFirmwareUpgrade(core, imageFile, options);
    runListThen(core, std::move(list), BatchText::UpgradeCaption, BatchText::UpgradePrompt, [&] {
        const QStringList reset = closeUpgrade(core, rows);
        if (factoryReset)
            *factoryReset = reset;
        QDir(QDir(core.TempDirectory()).filePath(QStringLiteral("upgrade-image"))).removeRecursively();
    });
}

QList<InterruptedUpgrade> InterruptedUpgrades(AppCore& core, const QList<DeviceRow*>& rows)
{
    QList<InterruptedUpgrade> out;
    for (const DeviceRow* row : rows) {
        QFile f(interruptedMarker(core, row));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject o = QJsonDocument::fromJson(f.read(64 * 1024)).object();
        InterruptedUpgrade u;
        u.mac = macOf(core, row);
        u.savedFile = o.value(QStringLiteral("saved")).toString(core.SavedFile(row));
        u.time = o.value(QStringLiteral("time")).toString();
        u.dataFolder = core.DataFolder();
        out.append(u);
    }
    return out;
}

QString RestoreCommand(const InterruptedUpgrade& upgrade)
{
    return QStringLiteral("nodewarden --home %1 write-config --mac %2 --file %3 --factory-password")
        .arg(shellWord(QDir::toNativeSeparators(upgrade.dataFolder)), upgrade.mac,
             shellWord(QDir::toNativeSeparators(upgrade.savedFile)));
}

QString ModuleFormName(const QString& iniPath, const QString& moduleName)
{
    return VxIni(iniPath).ReadString(ModuleFormSection, moduleName, QString());
}

ConfigTarget* CreateConfigWindow(AppCore& core, const QString& moduleName,
                                 const ConfigFormFinder& findConfigForm)
{
    const QString formName = ModuleFormName(core.SettingsPath(), moduleName);
    ConfigTarget* window = findConfigForm ? findConfigForm(formName) : nullptr;
    if (!window)
        throw VxError(AppErrorUnknownModule, BatchText::UnknownModule + formName);
    core.SetConfig(window);
    return window;
}

bool SelectAllIfNoneSelected(AppCore& core, const QString& question, const QString& caption)
{
    DeviceListModel& devices = core.Devices();
    if (devices.Count() == 0)
        return false;
    if (devices.SelectedCount() > 0)
        return true;
    OperationUi* ui = core.Ui();
    if (!ui || !ui->AskYesNo(question, caption))
        return false;
    devices.SelectAll();
    return true;
}
