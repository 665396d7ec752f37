// The commands of the queue that act on one device, and their reply handlers.
#include "app/AppCore.h"
#include "app/AppErrors.h"
#include "app/CommandQueue.h"
#include "app/DeviceListModel.h"
#include "config/ConfigTarget.h"
#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPVarList.h"
#include "nimp/VxNIMPWire.h"
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

const QString ActionSetIP = QStringLiteral("Set IP");
const QString ActionWriteConfig1 = QStringLiteral("Write Config:1");
const QString ActionWriteConfig2 = QStringLiteral("Write Config:2");
const QString ActionReadConfig = QStringLiteral("Read Config");
const QString ActionUpdateFw1 = QStringLiteral("Update F/W:1");
const QString ActionUpdateFw2 = QStringLiteral("Update F/W:2");
const QString ActionVerifyConfig = QStringLiteral("Verify Config");
const QString ActionReset = QStringLiteral("Reset");
const QString ActionFactoryResetText = QStringLiteral("Factory Reset");
const QString FwVersionUpdated = QStringLiteral("Updated");
const QString DeviceNameKey = QStringLiteral("device_name ");

QString status(const char* text)
{
    return QString::fromLatin1(text);
}

void setVar(VxNIMPVarList& list, uint8_t id, const QString& value)
{
    for (int i = 0; i < list.Count(); ++i)
        if (list.Item(i).id == id)
            list.Item(i).value = value;
}

QString column(DeviceListModel& devices, const DeviceRow* row, const char* name)
{
    return devices.GetField(row, QString::fromLatin1(name));
}

} // namespace

void CommandQueue::log(const QString& text)
{
    m_core.LogAction(text);
}

bool CommandQueue::developerMode() const
{
    return m_core.Settings().developerMode;
}

bool CommandQueue::retryLeft(DeviceRow* row) const
{
    // Anything but a positive count (including a cell that is not a number) is no retry left,
    // so a damaged cell cannot make a device retry without end.
    return m_core.Devices().GetField(row, QStringLiteral("Retry")).toInt() > 0;
}

void CommandQueue::decrementRetry(DeviceRow* row)
{
    DeviceListModel& devices = m_core.Devices();
    const int left = devices.GetField(row, QStringLiteral("Retry")).toInt();
    devices.SetField(row, QStringLiteral("Retry"), QString::number(left - 1));
}

void CommandQueue::setStatusIfPending(DeviceRow* row, const QString& text)
{
    DeviceListModel& devices = m_core.Devices();
    if (devices.GetStatus(row) == QLatin1String(DeviceStatus::Pending))
        devices.SetStatus(row, text);
}

// A late reply (its row timed out, the queue went on) must not release the time-out guard
// of another device's command.
void CommandQueue::stopTimerFor(const DeviceRow* row)
{
    if (m_timedItem == row || !m_waiting)
        StopTimer();
}

DeviceRow* CommandQueue::replyRow(const VxNIMPError& e)
{
    DeviceRow* row = m_core.Devices().FindSelectedItem(e.mac);
    if (!row && developerMode())
        m_core.ReportError(
            VxError(AppErrorUnknownDevice, QStringLiteral("Error: Unknown device: ") + e.mac));
    return row;
}

void CommandQueue::sendRequest(Command& c, const VxNIMPVarList& vars, uint8_t nimpCommand,
                               int timeout, std::function<void(const VxNIMPError&)> handler)
{
    const QString mac = column(m_core.Devices(), c.item, "Mac Address");
    ++c.item->requestsSent;
    QPointer<CommandQueue> self(this);
    // The handler carries what it needs by value: the command itself is gone by the time the
    // reply arrives.
    m_client->SendRequest(
        mac, c.params.value(0), vars, nimpCommand,
        [self, handler = std::move(handler)](void*, const VxNIMPError& e, const VxNIMPVarList&) {
            if (!self || self->m_shuttingDown)
                return;
            try {
                handler(e);
            } catch (const VxError& error) {
                self->failOperation(error);
            }
        },
        nullptr, timeout);
}

void CommandQueue::loadConfig(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    ConfigTarget* target = m_core.Config();
    const QString file = c.params.value(0);
    if (!target || target->LoadConfigFile(file) != 0) {
        log(column(devices, c.item, "Mac Address") + QStringLiteral(" Load config fail!"));
        devices.SetStatus(c.item, status(DeviceStatus::Unsuccess));
        return;
    }
    if (developerMode())
        log(QStringLiteral("Load config :") + file);
    devices.SetStatus(c.item, status(DeviceStatus::Ok));
}

void CommandQueue::getVersion(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    StartTimer(c.item, c.time);
    log(column(devices, c.item, "Mac Address") + QStringLiteral(" Nimp:Get Version"));
    devices.SetStatus(c.item, status(DeviceStatus::Pending));
    VxNIMPVarList vars(NimpVersionTable);
    sendRequest(c, vars, NIMP_CMD_GET, GetVersionTimeout,
                [this](const VxNIMPError& e) { onGetVersionReply(e); });
}

void CommandQueue::onGetVersionReply(const VxNIMPError& e)
{
    DeviceRow* row = replyRow(e);
    if (!row)
        return;
    DeviceListModel& devices = m_core.Devices();
    if (e.code == 0 || e.code == NotDoneCode) {
        // "Not done" still proves that the device is alive, which is all this request asks.
        log(e.mac + (e.code == 0 ? QStringLiteral(" Nimp Ack: Get Version OK.")
                                 : QStringLiteral(" Nimp Ack: Get Version not done, but alive.")));
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        devices.SetField(row, QStringLiteral("Retry"), QStringLiteral("0"));
        stopTimerFor(row);
        return;
    }
    if (retryLeft(row)) {
        decrementRetry(row);
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        // The timer stays armed until the retry re-arms it.
        retryLater(cmdGetVersion, row, m_core.Settings().timingTolerance + GetVersionRetryExtra,
                   {e.password}, GetVersionRetryPause);
        return;
    }
    setStatusIfPending(row, status(DeviceStatus::Unsuccess));
    stopTimerFor(row);
}

void CommandQueue::setIP(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    log(column(devices, c.item, "Mac Address") + QStringLiteral(" Nimp:Set IP "));
    devices.SetStatus(c.item, status(DeviceStatus::Pending));
    devices.SetAction(c.item, ActionSetIP);
    const QString ip = c.params.value(1);
    const QString mask = c.params.value(2);
    VxNIMPVarList vars(NimpIPTable);
    setVar(vars, VarIpAddress, ip);
    setVar(vars, VarNetmask, mask);
    sendRequest(c, vars, NIMP_CMD_SET, m_core.Settings().nimpSetTimeout + 500,
                [this, ip, mask](const VxNIMPError& e) { onSetIPReply(e, ip, mask); });
}

void CommandQueue::onSetIPReply(const VxNIMPError& e, const QString& sentIp,
                                const QString& sentMask)
{
    DeviceRow* row = replyRow(e);
    if (!row)
        return;
    DeviceListModel& devices = m_core.Devices();
    if (e.code == 0) {
        log(e.mac + QStringLiteral(" Nimp Ack: Set IP OK."));
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        devices.SetField(row, QStringLiteral("Retry"), QStringLiteral("0"));
        devices.SetField(row, QStringLiteral("IP Address"), sentIp);
        devices.SetField(row, QStringLiteral("Netmask"), sentMask);
        return;
    }
    if (retryLeft(row)) {
        decrementRetry(row);
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        retryNow(cmdSetIP, row, 0, {e.password, sentIp, sentMask});
        return;
    }
    const QString message = StripNimpPrefix(e.message);
    setStatusIfPending(row, message);
    log(e.mac + QStringLiteral(" Nimp Ack: Set IP ") + message);
}

void CommandQueue::transfer(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    const AppSettings& settings = m_core.Settings();
    const QString mac = column(devices, c.item, "Mac Address");
    StartTimer(c.item, c.time);
    const QString logText = mac + QStringLiteral(" Nimp:") +
                            (c.type == cmdReadConfig    ? QStringLiteral("Put config")
                             : c.type == cmdWriteConfig ? QStringLiteral("Get config")
                                                        : QStringLiteral("Get firmware"));
    const QString serverIp = m_core.TftpServerAddressFor(c.item);

    const QString path = c.params.value(1);
    if (c.type == cmdReadConfig && QFile::exists(path) && !QFile::remove(path))
        // A file left from an earlier run must not pass for the new one.
        throw VxError(AppErrorDataFolder,
                      QStringLiteral("Cannot remove the old file %1").arg(path));

    QString directory, fileName;
    if (!path.contains(QLatin1Char('/')) && !path.contains(QDir::separator())) {
        directory = QDir::currentPath();
        fileName = path;
    } else {
        const QFileInfo info(path);
        directory = info.absolutePath();
        fileName = info.fileName();
    }
    VxTFTPServer& server = m_core.TftpServer();
    try {
        server.Start(directory, settings.tftpPort);
    } catch (const VxError& e) {
        // The server knows why its port could not be bound (port 69 needs privileges).
        const QString detail = server.StartErrorDetail();
        throw VxError(e.code(), detail.isEmpty() ? e.message() : e.message() + QLatin1Char(' ') + detail);
    }
    m_tftpDirectory = directory;
    if (developerMode())
        log(QStringLiteral("Tftp sever path:") + m_tftpDirectory);

    VxNIMPVarList vars(NimpFileTransferTable);
    setVar(vars, VarServerIp, serverIp);
    setVar(vars, VarFileName, fileName);
    int timeout = 0;
    if (c.type == cmdWriteConfig) {
        setVar(vars, VarAction, QString::number(ActionValueFetchFile));
        devices.SetStatus(c.item, status(DeviceStatus::Pending));
        devices.SetAction(c.item, ActionWriteConfig1);
        timeout = settings.configDownloadTime;
    } else if (c.type == cmdFirmwareDownload) {
        setVar(vars, VarAction, QString::number(ActionValueFetchFile));
        devices.SetStatus(c.item, status(DeviceStatus::Pending));
        devices.SetAction(c.item, ActionUpdateFw1);
        timeout = settings.fwDownloadTime;
    } else {
        setVar(vars, VarAction, QString::number(ActionValuePutConfig));
        devices.SetStatus(c.item, status(DeviceStatus::Pending));
        devices.SetAction(c.item, ActionReadConfig);
        timeout = settings.configUploadTime;
    }
    sendRequest(c, vars, NIMP_CMD_SET, timeout,
                [this, fileName](const VxNIMPError& e) { onTransferReply(e, fileName); });
    log(logText);
}

void CommandQueue::onTransferReply(const VxNIMPError& e, const QString& sentFileName)
{
    DeviceListModel& devices = m_core.Devices();
    DeviceRow* row = devices.FindSelectedItem(e.mac);
    if (!row) {
        replyRow(e);
        return;
    }
    const QString action = devices.GetAction(row);
    const QString infix = QStringLiteral(" Nimp Ack:") +
                          (action == ActionWriteConfig1 ? QStringLiteral("Get config ")
                           : action == ActionReadConfig ? QStringLiteral("Put config ")
                                                        : QStringLiteral("Get firmware "));
    if (e.code == 0) {
        log(e.mac + infix + QStringLiteral("OK."));
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        devices.SetField(row, QStringLiteral("Retry"), QStringLiteral("0"));
        stopTimerFor(row);
        return;
    }
    if (!retryLeft(row)) {
        const QString message = StripNimpPrefix(e.message);
        setStatusIfPending(row, message);
        log(e.mac + infix + message);
        stopTimerFor(row);
        return;
    }
    decrementRetry(row);
    const AppSettings& settings = m_core.Settings();
    uint8_t type = cmdFirmwareDownload;
    int32_t time = settings.timingTolerance + settings.fwDownloadTime;
    if (action == ActionWriteConfig1) {
        type = cmdWriteConfig;
        time = settings.timingTolerance + settings.configDownloadTime;
    } else if (action == ActionReadConfig) {
        type = cmdReadConfig;
        time = settings.timingTolerance + settings.configUploadTime;
    }
    setStatusIfPending(row, status(DeviceStatus::InRunning));
    retryNow(type, row, time, {e.password, QDir(m_tftpDirectory).filePath(sentFileName)});
}

void CommandQueue::verifyConfig(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    const QString mac = column(devices, c.item, "Mac Address");
    log(mac + QStringLiteral(" Verify config"));
    devices.SetStatus(c.item, status(DeviceStatus::Pending));
    devices.SetAction(c.item, ActionVerifyConfig);
    ConfigTarget* target = m_core.Config();
    const QString written = c.params.value(0);
    if (!target || target->VerifyConfigFiles(written, c.params.value(1)) != 0) {
        log(mac + QStringLiteral(" Verifty config fail!"));
        devices.SetStatus(c.item, status(DeviceStatus::Unsuccess));
        return;
    }
    devices.SetStatus(c.item, status(DeviceStatus::Ok));
    const QString name = m_core.ReadConfigValue(written, DeviceNameKey);
    if (!name.isEmpty())
        devices.SetField(c.item, QStringLiteral("Device Name"), name);
}

void CommandQueue::flash(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    const bool config = c.type == cmdConfigFlash;
    const QString logText =
        column(devices, c.item, "Mac Address") + QStringLiteral(" Nimp:") +
        (config ? QStringLiteral("Config flash update") : QStringLiteral("F/W flash update"));
    VxNIMPVarList vars(NimpActionTable);
    setVar(vars, VarAction, QString::number(ActionValueFlash));
    devices.SetStatus(c.item, status(DeviceStatus::Pending));
    devices.SetAction(c.item, config ? ActionWriteConfig2 : ActionUpdateFw2);
    const AppSettings& settings = m_core.Settings();
    const uint8_t type = c.type;
    sendRequest(c, vars, NIMP_CMD_SET,
                config ? settings.configFlashUpdateTime : settings.fwFlashUpdateTime,
                [this, type](const VxNIMPError& e) { onFlashReply(e, type); });
    log(logText);
}

void CommandQueue::onFlashReply(const VxNIMPError& e, uint8_t type)
{
    DeviceRow* row = replyRow(e);
    if (!row)
        return;
    const QString what = type == cmdConfigFlash ? QStringLiteral(" Nimp Ack: Config update ")
                                                : QStringLiteral(" Nimp Ack: Firmware update ");
    if (e.code != 0) {
        const QString message = StripNimpPrefix(e.message);
        setStatusIfPending(row, message);
        log(e.mac + what + message);
        return;
    }
    log(e.mac + what + QStringLiteral("OK."));
    if (type == cmdFirmwareFlash)
        m_core.Devices().SetField(row, QStringLiteral("F/W Version"), FwVersionUpdated);
    setStatusIfPending(row, status(DeviceStatus::InRunning));
}

void CommandQueue::reset(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    const bool factory = c.type == cmdFactoryReset;
    VxNIMPVarList vars(NimpActionTable);
    setVar(vars, VarAction, QString::number(factory ? ActionValueFactoryReset : ActionValueReset));
    devices.SetStatus(c.item, status(DeviceStatus::Pending));
    devices.SetAction(c.item, factory ? ActionFactoryResetText : ActionReset);
    const uint8_t type = c.type;
    const quint64 request = c.item->requestsSent + 1; // the number sendRequest gives this one
    sendRequest(c, vars, NIMP_CMD_SET, ResetTimeout,
                [this, type, request](const VxNIMPError& e) { onResetReply(e, type, request); });
    log(column(devices, c.item, "Mac Address") +
        (factory ? QStringLiteral(" Nimp:FactoryReset") : QStringLiteral(" Nimp:Reset")));
}

void CommandQueue::onResetReply(const VxNIMPError& e, uint8_t type, quint64 request)
{
    DeviceRow* row = replyRow(e);
    if (!row)
        return;
    // A reset is not waited for: the list goes on after a fixed reboot wait. When the reply
    // (or the time-out of a lost request) comes only after the row's next request has gone
    // out, the Retry column and the Status belong to that next step; the late reply must
    // neither clear its retries nor start another reset in the middle of it.
    const bool late = row->requestsSent != request;
    if (e.code == 0) {
        // Status stays "..": the operation brings the row back after the reboot wait.
        log(e.mac + (type == cmdFactoryReset ? QStringLiteral(" Nimp Ack:Factory reset OK.")
                                             : QStringLiteral(" Nimp Ack:Reset OK.")));
        if (!late)
            m_core.Devices().SetField(row, QStringLiteral("Retry"), QStringLiteral("0"));
        return;
    }
    if (!late && retryLeft(row)) {
        decrementRetry(row);
        setStatusIfPending(row, status(DeviceStatus::InRunning));
        retryNow(type, row, 0, {e.password});
    }
    // Out of retries: the later steps find out whether the device came back.
}
