// The commands of the queue that act on one device, and their reply handlers.
#include "app/AppSettings.h"
#include "app/DeviceFiles.h"
#include "app/QueueHost.h"
#include "app/AppErrors.h"
#include "app/CommandQueue.h"
#include "app/DeviceListModel.h"
#include "config/ConfigTarget.h"
#include "config/ConfigText.h"
#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPVarList.h"
#include "nimp/VxNIMPWire.h"
#include "common/TextHelpers.h"
#include "tftp/VxTFTPServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace {

constexpr int NotDoneCode = -1012;
constexpr uint8_t VarIpAddress = 3;
constexpr uint8_t VarNetmask = 4;
constexpr uint8_t VarAction = 5;
constexpr uint8_t VarVersion = 12;
constexpr uint8_t VarServerIp = 92;
constexpr uint8_t VarFileName = 93;

// Values of the Action variable.
constexpr int ActionValueReset = 1;
constexpr int ActionValueFactoryReset = 2;
constexpr int ActionValueFlash = 4;
constexpr int ActionValueFetchFile = 10;
constexpr int ActionValuePutConfig = 13;

constexpr int GetVersionTimeout = 500;
constexpr int ResetTimeout = 100;
constexpr int GetVersionRetryPause = 500;
constexpr int GetVersionRetryExtra = 1000;

const QString FwVersionUpdated = QStringLiteral("Updated");
const QString DeviceNameKey = QStringLiteral("device_name ");

void setVar(VxNIMPVarList& list, uint8_t id, const QString& value)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i).id == id)
            list.Item(i).value = value;
}

QString varValue(const VxNIMPVarList& list, uint8_t id)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i).id == id)
            return list.Item(i).value;
    return QString();
}

} // namespace

void CommandQueue::log(const QString& text)
{
    m_host.LogAction(text);
}

bool CommandQueue::developerMode() const
{
    return m_host.Settings().developerMode;
}

QString CommandQueue::macOf(const DeviceRow* row) const
{
    return DeviceListModel::MacText(row);
}

bool CommandQueue::retryLeft(const DeviceRow* row) const
{
    return m_host.Devices().Retries(row) > 0;
}

void CommandQueue::decrementRetry(DeviceRow* row)
{
    DeviceListModel& devices = m_host.Devices();
    devices.SetRetries(row, devices.Retries(row) - 1);
}

void CommandQueue::setStateIfPending(DeviceRow* row, DeviceState state)
{
    DeviceListModel& devices = m_host.Devices();
    if (devices.State(row) == DeviceState::Pending)
        devices.SetState(row, state);
}

void CommandQueue::setStatusIfPending(DeviceRow* row, const QString& text)
{
    DeviceListModel& devices = m_host.Devices();
    if (devices.State(row) == DeviceState::Pending)
        devices.SetStatus(row, text);
}

bool CommandQueue::frozen(const DeviceRow* row) const
{
    return m_host.Devices().State(row) == DeviceState::Aborted;
}

void CommandQueue::sendRequest(Command& c, const VxNIMPVarList& vars, uint8_t nimpCommand,
                               int timeout, ReplyHandler handler)
{
    const QString mac = macOf(c.item);
    ++c.item->job.requestsSent;
    c.item->job.lastCommand = c.type;
    QPointer<CommandQueue> self(this);
    const quint64 rowId = c.item->id;
    // The device is reached through the interface it answered Discover on.
    QList<int> interfaces;
    if (c.item->interfaceIndex != 0)
        interfaces.append(c.item->interfaceIndex);
    // The handler carries what it needs by value: the command itself is gone by the time the
    // reply arrives, and the row is found again by its id (the list may have been cleared).
    m_client->SendRequest(
        mac, c.password, vars, nimpCommand,
        [self, rowId, handler = std::move(handler)](const VxNIMPError& e,
                                                    const VxNIMPVarList& replyVars) {
            if (!self || self->m_shuttingDown)
                return;
            DeviceListModel& devices = self->m_host.Devices();
            DeviceRow* row = devices.RowById(rowId);
            if (!row || !devices.IsSelected(row)) {
                // Only selected rows take replies.
                if (self->developerMode())
                    self->m_host.ReportError(VxError(
                        AppErrorUnknownDevice, QStringLiteral("Error: Unknown device: ") + e.mac));
                return;
            }
            // A reply says nothing about where the device's files may be served: an unsigned
            // one may come from anyone.
            try {
                handler(row, e, replyVars);
            } catch (const VxError& error) {
                self->failOperation(error);
            }
        },
        this, timeout, interfaces);
}

void CommandQueue::loadConfig(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    ConfigTarget* target = m_host.Config();
    const QString file = c.file;
    c.item->job.lastCommand = c.type;
    if (!target || target->LoadConfigFile(file) != 0) {
        log(macOf(c.item) + QStringLiteral(" Load config fail!"));
        devices.SetState(c.item, DeviceState::Unsuccess);
        c.item->job.reason = QStringLiteral("the configuration it sent could not be loaded");
        return;
    }
    if (developerMode())
        log(QStringLiteral("Load config :") + file);
    devices.SetState(c.item, DeviceState::Ok);
}

void CommandQueue::getVersion(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    StartTimer(c.item, c.time, c.bound);
    log(macOf(c.item) + QStringLiteral(" Nimp:Get Version"));
    devices.SetState(c.item, DeviceState::Pending);
    VxNIMPVarList vars(NimpVersionTable);
    sendRequest(c, vars, NIMP_CMD_GET, GetVersionTimeout,
                [this](DeviceRow* row, const VxNIMPError& e, const VxNIMPVarList& reply) {
                    onGetVersionReply(row, e, reply);
                });
}

void CommandQueue::onGetVersionReply(DeviceRow* row, const VxNIMPError& e,
                                     const VxNIMPVarList& reply)
{
    DeviceListModel& devices = m_host.Devices();
    if (e.code == 0 || e.code == NotDoneCode) {
        // "Not done" still proves that the device is alive, which is all this request asks.
        log(e.mac + (e.code == 0 ? QStringLiteral(" Nimp Ack: Get Version OK.")
                                 : QStringLiteral(" Nimp Ack: Get Version not done, but alive.")));
        // What the device runs is worth knowing even after an abort.
        const QString version = varValue(reply, VarVersion);
        if (e.code == 0 && !version.isEmpty())
            m_host.NoteReportedVersion(row, version);
        if (frozen(row))
            return;
        setStateIfPending(row, DeviceState::InRunning);
        devices.SetRetries(row, 0);
        StopTimer(row);
        return;
    }
    if (frozen(row))
        return;
    if (retryLeft(row)) {
        decrementRetry(row);
        setStateIfPending(row, DeviceState::InRunning);
        // The row stays held until the retry holds it again.
        retryLater(TimedCommand(cmdGetVersion, row,
                                ToleranceLimit(m_host.Settings().timingTolerance,
                                               GetVersionRetryExtra),
                                {e.password}),
                   GetVersionRetryPause);
        return;
    }
    if (devices.State(row) == DeviceState::Pending)
        row->job.reason = QStringLiteral("did not answer Get Version: ") + StripNimpPrefix(e.message);
    setStateIfPending(row, DeviceState::Unsuccess);
    StopTimer(row);
}

void CommandQueue::setIP(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    log(macOf(c.item) + QStringLiteral(" Nimp:Set IP "));
    devices.SetState(c.item, DeviceState::Pending);
    devices.SetStep(c.item, DeviceStep::SetIP);
    const QString ip = c.ip;
    const QString mask = c.netmask;
    VxNIMPVarList vars(NimpIPTable);
    setVar(vars, VarIpAddress, ip);
    setVar(vars, VarNetmask, mask);
    sendRequest(c, vars, NIMP_CMD_SET, m_host.Settings().nimpSetTimeout + 500,
                [this, ip, mask](DeviceRow* row, const VxNIMPError& e, const VxNIMPVarList&) {
                    onSetIPReply(row, e, ip, mask);
                });
}

void CommandQueue::onSetIPReply(DeviceRow* row, const VxNIMPError& e, const QString& sentIp,
                                const QString& sentMask)
{
    DeviceListModel& devices = m_host.Devices();
    if (e.code == 0) {
        log(e.mac + QStringLiteral(" Nimp Ack: Set IP OK."));
        // The device has the address now, whether or not the operation was aborted meanwhile.
        devices.SetValue(row, DeviceListModel::ColIpAddress, sentIp);
        devices.SetValue(row, DeviceListModel::ColNetmask, sentMask);
        row->job.milestone = DeviceMilestone::AddressSet;
        if (frozen(row))
            return;
        setStateIfPending(row, DeviceState::InRunning);
        devices.SetRetries(row, 0);
        return;
    }
    if (frozen(row)) {
        log(e.mac + QStringLiteral(" Nimp Ack: Set IP ") + StripNimpPrefix(e.message));
        return;
    }
    if (retryLeft(row)) {
        decrementRetry(row);
        setStateIfPending(row, DeviceState::InRunning);
        retryLater(Command::Make(cmdSetIP, row, 0, {e.password, sentIp, sentMask}), 0);
        return;
    }
    const QString message = StripNimpPrefix(e.message);
    if (devices.State(row) == DeviceState::Pending)
        row->job.reason = message;
    setStatusIfPending(row, message);
    log(e.mac + QStringLiteral(" Nimp Ack: Set IP ") + message);
}

void CommandQueue::transfer(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    const AppSettings& settings = m_host.Settings();
    const QString mac = macOf(c.item);
    StartTimer(c.item, c.time, c.bound);
    const QString logText = mac + QStringLiteral(" Nimp:") +
                            (c.type == cmdReadConfig    ? QStringLiteral("Put config")
                             : c.type == cmdWriteConfig ? QStringLiteral("Get config")
                                                        : QStringLiteral("Get firmware"));
    const QString serverIp = m_host.Files().TftpServerAddressFor(c.item);

    const QString path = c.file;
    if (c.type == cmdReadConfig && QFile::exists(path) && !QFile::remove(path))
        // A file left from an earlier run must not pass for the new one.
        throw VxError(AppErrorDataFolder,
                      QStringLiteral("Cannot remove the old file %1").arg(path));

    // The device may fetch exactly this file, or put exactly this one, and nothing else.
    const QString fileName =
        m_host.Files().ServeFile(c.item, c.type == cmdReadConfig ? ServeDirection::DevicePuts
                                                         : ServeDirection::DeviceFetches,
                         path, serverIp);

    VxNIMPVarList vars(NimpFileTransferTable);
    setVar(vars, VarServerIp, serverIp);
    setVar(vars, VarFileName, fileName);
    int timeout = 0;
    devices.SetState(c.item, DeviceState::Pending);
    if (c.type == cmdWriteConfig) {
        setVar(vars, VarAction, QString::number(ActionValueFetchFile));
        devices.SetStep(c.item, DeviceStep::WriteConfig1);
        timeout = settings.configDownloadTime;
    } else if (c.type == cmdFirmwareDownload) {
        setVar(vars, VarAction, QString::number(ActionValueFetchFile));
        devices.SetStep(c.item, DeviceStep::UpdateFw1);
        timeout = settings.fwDownloadTime;
    } else {
        setVar(vars, VarAction, QString::number(ActionValuePutConfig));
        devices.SetStep(c.item, DeviceStep::ReadConfig);
        timeout = settings.configUploadTime;
    }
    const uint8_t type = c.type;
    const quint64 request = c.item->job.requestsSent + 1; // the number sendRequest gives this one
    c.item->job.tftpGrantRequest = request;
    c.item->job.transfer = DeviceTransfer();
    const QString bound = c.bound;
    sendRequest(c, vars, NIMP_CMD_SET, timeout,
                [this, type, path, request, bound](DeviceRow* row, const VxNIMPError& e,
                                                   const VxNIMPVarList&) {
                    onTransferReply(row, e, type, path, request, bound);
                });
    log(logText);
}

void CommandQueue::onTransferReply(DeviceRow* row, const VxNIMPError& e, uint8_t type,
                                   const QString& sentPath, quint64 request, const QString& bound)
{
    DeviceListModel& devices = m_host.Devices();
    // The transfer is over either way: the device may no longer reach the file.
    if (row->job.tftpGrantRequest == request)
        m_host.Files().EndServing(row);
    const QString infix = QStringLiteral(" Nimp Ack:") +
                          (type == cmdWriteConfig  ? QStringLiteral("Get config ")
                           : type == cmdReadConfig ? QStringLiteral("Put config ")
                                                   : QStringLiteral("Get firmware "));
    if (e.code == 0) {
        log(e.mac + infix + QStringLiteral("OK."));
        if (frozen(row))
            return;
        setStateIfPending(row, DeviceState::InRunning);
        devices.SetRetries(row, 0);
        StopTimer(row);
        return;
    }
    if (frozen(row) || !retryLeft(row)) {
        const QString message = StripNimpPrefix(e.message);
        if (!frozen(row) && devices.State(row) == DeviceState::Pending) {
            QString reason = message;
            const DeviceTransfer& t = row->job.transfer;
            if (t.happened && !t.ok)
                reason += QStringLiteral(" (the TFTP transfer of %1 with %2 failed: %3)")
                              .arg(EscapeUntrusted(t.file), t.peer.toString(), t.error);
            row->job.reason = reason;
        }
        if (!frozen(row))
            setStatusIfPending(row, message);
        log(e.mac + infix + message);
        StopTimer(row);
        return;
    }
    decrementRetry(row);
    const AppSettings& settings = m_host.Settings();
    int32_t time = settings.timingTolerance + settings.fwDownloadTime;
    if (type == cmdWriteConfig)
        time = settings.timingTolerance + settings.configDownloadTime;
    else if (type == cmdReadConfig)
        time = settings.timingTolerance + settings.configUploadTime;
    setStateIfPending(row, DeviceState::InRunning);
    // The row stays held until the retry holds it again.
    Command retry = Command::Make(type, row, time, {e.password, sentPath});
    retry.bound = bound;
    retryLater(retry, 0);
}

void CommandQueue::verifyConfig(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    const QString mac = macOf(c.item);
    c.item->job.lastCommand = c.type;
    log(mac + QStringLiteral(" Verify config"));
    devices.SetState(c.item, DeviceState::Pending);
    devices.SetStep(c.item, DeviceStep::VerifyConfig);
    ConfigTarget* target = m_host.Config();
    const QString written = c.file;
    if (!target || target->VerifyConfigFiles(written, c.otherFile) != 0) {
        log(mac + QStringLiteral(" Verifty config fail!"));
        devices.SetState(c.item, DeviceState::Unsuccess);
        c.item->job.reason =
            QStringLiteral("the configuration read back differs from the one written");
        return;
    }
    devices.SetState(c.item, DeviceState::Ok);
    const QString name = ::ReadConfigValue(written, DeviceNameKey);
    if (!name.isEmpty())
        devices.SetValue(c.item, DeviceListModel::ColDeviceName, name);
}

void CommandQueue::flash(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    const bool config = c.type == cmdConfigFlash;
    const QString logText =
        macOf(c.item) + QStringLiteral(" Nimp:") +
        (config ? QStringLiteral("Config flash update") : QStringLiteral("F/W flash update"));
    VxNIMPVarList vars(NimpActionTable);
    setVar(vars, VarAction, QString::number(ActionValueFlash));
    devices.SetState(c.item, DeviceState::Pending);
    devices.SetStep(c.item, config ? DeviceStep::WriteConfig2 : DeviceStep::UpdateFw2);
    const AppSettings& settings = m_host.Settings();
    const uint8_t type = c.type;
    sendRequest(c, vars, NIMP_CMD_SET,
                config ? settings.configFlashUpdateTime : settings.fwFlashUpdateTime,
                [this, type](DeviceRow* row, const VxNIMPError& e, const VxNIMPVarList&) {
                    onFlashReply(row, e, type);
                });
    log(logText);
}

void CommandQueue::onFlashReply(DeviceRow* row, const VxNIMPError& e, uint8_t type)
{
    const QString what = type == cmdConfigFlash ? QStringLiteral(" Nimp Ack: Config update ")
                                                : QStringLiteral(" Nimp Ack: Firmware update ");
    if (e.code != 0) {
        const QString message = StripNimpPrefix(e.message);
        if (!frozen(row) && m_host.Devices().State(row) == DeviceState::Pending)
            row->job.reason = message;
        if (!frozen(row))
            setStatusIfPending(row, message);
        log(e.mac + what + message);
        return;
    }
    log(e.mac + what + QStringLiteral("OK."));
    // The flash happened, aborted or not: the row says so.
    if (type == cmdFirmwareFlash) {
        m_host.Devices().SetValue(row, DeviceListModel::ColFwVersion, FwVersionUpdated);
        row->job.milestone = DeviceMilestone::ImageFlashed;
    } else {
        row->job.milestone = row->job.factoryResetSent ? DeviceMilestone::ConfigRestored
                                                       : DeviceMilestone::ConfigFlashed;
    }
    if (frozen(row))
        return;
    setStateIfPending(row, DeviceState::InRunning);
}

void CommandQueue::reset(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    const bool factory = c.type == cmdFactoryReset;
    VxNIMPVarList vars(NimpActionTable);
    setVar(vars, VarAction, QString::number(factory ? ActionValueFactoryReset : ActionValueReset));
    devices.SetState(c.item, DeviceState::Pending);
    devices.SetStep(c.item, factory ? DeviceStep::FactoryReset : DeviceStep::Reset);
    const uint8_t type = c.type;
    const quint64 request = c.item->job.requestsSent + 1; // the number sendRequest gives this one
    if (factory) {
        c.item->job.factoryResetSent = true;
        c.item->job.milestone = DeviceMilestone::FactoryReset;
    }
    sendRequest(c, vars, NIMP_CMD_SET, ResetTimeout,
                [this, type, request](DeviceRow* row, const VxNIMPError& e, const VxNIMPVarList&) {
                    onResetReply(row, e, type, request);
                });
    log(macOf(c.item) +
        (factory ? QStringLiteral(" Nimp:FactoryReset") : QStringLiteral(" Nimp:Reset")));
}

void CommandQueue::onResetReply(DeviceRow* row, const VxNIMPError& e, uint8_t type,
                                quint64 request)
{
    // A reset is not waited for: the list goes on after a fixed reboot wait. When the reply
    // (or the time-out of a lost request) comes only after the row's next request has gone
    // out, the Retry column and the Status belong to that next step; the late reply must
    // neither clear its retries nor start another reset in the middle of it.
    const bool late = row->job.requestsSent != request || frozen(row);
    if (e.code == 0) {
        // Status stays "..": the operation brings the row back after the reboot wait.
        log(e.mac + (type == cmdFactoryReset ? QStringLiteral(" Nimp Ack:Factory reset OK.")
                                             : QStringLiteral(" Nimp Ack:Reset OK.")));
        if (!late)
            m_host.Devices().SetRetries(row, 0);
        return;
    }
    if (!late && retryLeft(row)) {
        decrementRetry(row);
        setStateIfPending(row, DeviceState::InRunning);
        retryLater(Command::Make(type, row, 0, {e.password}), 0);
    }
    // Out of retries: the later steps find out whether the device came back.
}
