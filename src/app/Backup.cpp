#include "app/Backup.h"

#include "app/AppCore.h"
#include "app/AppErrors.h"
#include "app/CommandQueue.h"
#include "app/DeviceListModel.h"
#include "app/LogFile.h"
#include "common/VxError.h"
#include "common/WholeFile.h"
#include "config/UserConfigFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString Extension = QStringLiteral(".cfg");

// The file of a row, or nothing when its MAC is not the twelve hex digits a file is named by.
QString backupFile(const DeviceListModel&, const DeviceRow* row, const QString& folder)
{
    static const QRegularExpression macText(QStringLiteral("^[0-9A-F]{12}$"));
    const QString mac = DeviceListModel::MacText(row);
    if (!macText.match(mac).hasMatch())
        return QString();
    return QDir(folder).filePath(mac + Extension);
}

QString sha256Of(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

bool writeIndex(const QString& path, const QJsonArray& devices, const QDateTime& created,
                QString* error)
{
    QJsonObject index;
    index.insert(QStringLiteral("created"), IsoLocalTime(created));
    index.insert(QStringLiteral("devices"), devices);
    return WriteWholeFile(path, QJsonDocument(index).toJson(QJsonDocument::Indented), error);
}

} // namespace

QString DefaultBackupFolder(const AppCore& core, const QDateTime& now)
{
    const QDir backups(QDir(core.DataFolder()).filePath(QStringLiteral("Backups")));
    const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
    QString folder = backups.filePath(stamp);
    for (int n = 2; QFileInfo::exists(folder) && n < 1000; ++n)
        folder = backups.filePath(QStringLiteral("%1-%2").arg(stamp).arg(n));
    return folder;
}

std::vector<Command> CompileBackup(AppCore& core, const QString& folder)
{
    DeviceListModel& devices = core.Devices();
    const AppSettings& s = core.Settings();
    std::vector<Command> list;
    const auto add = [&list](uint8_t type, DeviceRow* row, int32_t time, const QStringList& p) {
        list.push_back(Command::Make(type, row, time, p));
    };
    for (DeviceRow* row : devices.SelectedRows()) {
        const QString file = backupFile(devices, row, folder);
        if (file.isEmpty()) {
            devices.SetState(row, DeviceState::Unsuccess);
            row->job.reason = QStringLiteral("its MAC is not twelve hex digits to name a file by");
            continue;
        }
        devices.SetState(row, DeviceState::InRunning);
        add(cmdSetRetry, row, 0, {QStringLiteral("1")});
        list.push_back(TimedCommand(
            cmdReadConfig, row,
            SettingLimit("ConfigUploadTime", s.configUploadTime, s.timingTolerance),
            {s.accessPassword, file}));
    }
    return list;
}

BackupOutcome BackUpConfigurations(AppCore& core, const QString& folder)
{
    if (core.Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    BackupOutcome outcome;
    DeviceListModel& devices = core.Devices();
    const QList<DeviceRow*> rows = devices.SelectedRows();
    if (rows.isEmpty())
        return outcome;
    core.CheckCanSend(rows);
    const QString absolute = QDir(folder).absolutePath();
    if (!QDir().mkpath(absolute) || !QFileInfo(absolute).isDir())
        throw VxError(AppErrorBackupFolder,
                      QStringLiteral("Cannot create the backup folder %1; nothing was sent.")
                          .arg(QDir::toNativeSeparators(absolute)));
    outcome.folder = absolute;
    outcome.indexFile = QDir(absolute).filePath(BackupText::IndexName);

    for (Command& c : CompileBackup(core, absolute))
        core.Queue().Append(std::make_unique<Command>(std::move(c)));

    // The device's answer alone does not make a backup: its file must be there too.
    const auto finish = [&] {
        const QDateTime now = QDateTime::currentDateTime();
        QJsonArray entries;
        for (DeviceRow* row : rows) {
            const QString file = backupFile(devices, row, absolute);
            const QFileInfo info(file);
            const bool arrived = !file.isEmpty() && info.isFile() && info.size() > 0;
            if (devices.State(row) == DeviceState::InRunning) {
                // A backup is only as good as its restore: a file that write-config would
                // refuse (a name with a control character, say) is no backup of the device.
                const QString refused = arrived ? ReadUserConfigFile(file).error : QString();
                if (arrived && refused.isEmpty()) {
                    devices.SetState(row, DeviceState::Ok);
                } else if (arrived) {
                    row->job.reason = BackupText::NotRestorable + refused;
                    core.LogAction(DeviceListModel::MacText(row) + QLatin1Char(' ')
                                   + row->job.reason);
                    devices.SetState(row, DeviceState::Unsuccess);
                } else {
                    core.LogAction(DeviceListModel::MacText(row) + BackupText::FileMissing);
                    devices.SetState(row, DeviceState::Unsuccess);
                }
            }
            const QString status = devices.GetStatus(row);
            const bool ok = devices.State(row) == DeviceState::Ok;
            (ok ? outcome.ok : outcome.failed) += 1;
            QJsonObject entry;
            entry.insert(QStringLiteral("model"), row->caption);
            entry.insert(QStringLiteral("mac"), DeviceListModel::MacText(row));
            entry.insert(QStringLiteral("ip"), row->ip);
            entry.insert(QStringLiteral("name"), row->deviceName);
            // What the device last reported, never a word of the console's ("Updated").
            entry.insert(QStringLiteral("firmware"), row->reportedVersion);
            entry.insert(QStringLiteral("status"), status);
            if (ok) {
                entry.insert(QStringLiteral("file"), info.fileName());
                entry.insert(QStringLiteral("time"), IsoLocalTime(info.lastModified()));
                entry.insert(QStringLiteral("sha256"), sha256Of(file));
            } else {
                entry.insert(QStringLiteral("time"), IsoLocalTime(now));
                if (!row->job.reason.isEmpty())
                    entry.insert(QStringLiteral("reason"), row->job.reason);
            }
            entries.append(entry);
        }
        QString reason;
        outcome.indexWritten = writeIndex(outcome.indexFile, entries, now, &reason);
        if (!outcome.indexWritten) {
            outcome.indexError = BackupText::IndexFail + QDir::toNativeSeparators(outcome.indexFile)
                                 + QStringLiteral(": ") + reason;
            core.LogAction(outcome.indexError);
        } else {
            core.LogAction(BackupText::FolderLine + QDir::toNativeSeparators(absolute));
        }
    };
    core.RunWithProgress(BackupText::Caption, BackupText::Prompt, finish);
    return outcome;
}
