#include "app/AppCore.h"

#include "app/AppErrors.h"
#include "app/CommandQueue.h"
#include "app/DeviceFiles.h"
#include "app/DiscoveredMacs.h"
#include "app/NimpInterfaces.h"
#include "app/OperationSummary.h"
#include "app/TftpPortAdvice.h"
#include "app/VxNIMPRequest2EditsRepeat.h"
#include "common/AddressCheck.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/VxNetInterface.h"
#include "common/Wait.h"
#include "config/ConfigText.h"
#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPVarList.h"
#include "nimp/VxNIMPWire.h"
#include "tftp/TftpLogLine.h"
#include "tftp/VxTFTPServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

namespace {
// A put larger than this is not a device's configuration.
constexpr qint64 MaxConfigurationBytes = 1024 * 1024;
const QString DiscoverCaption = QStringLiteral("Discover the devices");
const QString DiscoverPrompt = QStringLiteral("Discovering devices...");
const QString DiscoveryListName = QStringLiteral("Discovery Table");
const QString BroadcastMac = QStringLiteral("FFFFFFFFFFFF");
const QString ManagedModel = QStringLiteral("KTR-4200");
const QString ManagedModelAp = QStringLiteral("KTR-4200AP");
const QString SetIPCaption = QStringLiteral("Set IP");
const QString SetIPPrompt = QStringLiteral("Setting IP...");
const QString GetConfigCaption = QStringLiteral("Get config");
const QString GetConfigPrompt = QStringLiteral("Get config...");
constexpr int DiscoveryPassCs = 300;
constexpr int ShutdownNimpWaitMs = 6000;
constexpr int NoSocketCode = -1005;
constexpr int TftpTimeoutCs = 500;
constexpr int TftpTransmissions = 3;

QString tempFile(const AppCore& core, const DeviceRow* row, const char* extension)
{
    const QString mac = DeviceListModel::MacText(row);
    return QDir(core.TempDirectory()).filePath(mac + QString::fromLatin1(extension));
}
} // namespace

AppCore::AppCore(const QString& dataFolder, QObject* parent)
    : QObject(parent), m_dataFolder(dataFolder)
{
    m_files = std::make_unique<DeviceFiles>(
        [this]() -> const AppSettings& { return m_settings; }, m_devices,
        [this](const QString& line) { LogAction(line); }, SettingsPath());
    m_queue = std::make_unique<CommandQueue>(*this);
    m_requestClient = std::make_unique<VxNIMPClient>();
    m_discovery = std::make_unique<VxNIMPRequest2EditsRepeat>(
        *m_requestClient, VxNIMPDevice{BroadcastMac, QString()});
    m_discovery->Request().variables = VxNIMPVarList(NimpDiscoveryTable);
    m_discovery->Request().variables.SetName(DiscoveryListName);
    m_discovery->Bind(&m_devices);
    connect(m_discovery.get(), &VxNIMPRequest2Controls::logLine, this,
            [this](const QString& line) { LogAction(line); });
    connect(m_discovery.get(), &VxNIMPRequest2Controls::replyFiltered, this,
            [this] { noteFilteredReply(); });
    connect(m_discovery.get(), &VxNIMPRequest2Controls::replyError, this,
            [this](int code, const QString& message) { ReportError(VxError(code, message)); });
    LoadSettings();
    m_log.WriteToFolder(LogFolder(), m_settings.logKeepDays);
}

AppCore::~AppCore()
{
    // The discovery object cancels its runs while its client still exists.
    m_discovery.reset();
    m_requestClient.reset();
    m_queue.reset();
}

void AppCore::Shutdown()
{
    m_files->Server().Stop();
    VxNIMPClient* const clients[] = {&m_queue->Client(), m_requestClient.get()};
    const auto outstanding = [&clients] {
        int n = 0;
        for (const VxNIMPClient* c : clients)
            n += c->OutstandingCount();
        return n;
    };
    if (outstanding() > 0) {
        // Replies still complete their requests and time-outs are taken as usual.
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        limit.setTimerType(Qt::PreciseTimer);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        for (VxNIMPClient* c : clients)
            connect(c, &VxNIMPClient::idle, &loop, [&] {
                if (outstanding() == 0)
                    loop.quit();
            });
        limit.start(ShutdownNimpWaitMs);
        loop.exec();
    }
    for (VxNIMPClient* c : clients)
        c->CancelAll();
}

void AppCore::LoadSettings()
{
    QStringList warnings;
    m_settings = ::LoadSettings(SettingsPath(), &warnings);
    m_log.SetDeveloperMode(m_settings.developerMode);
    for (const QString& w : warnings)
        LogAction(w);
    for (VxNIMPClient* c : {&m_queue->Client(), m_requestClient.get()}) {
        // Settings that forbid sending leave the clients no address to send to, whatever path
        // a request takes.
        if (m_settings.sendBlocked.isEmpty())
            c->SetTarget(m_settings.nimpAddress, m_settings.nimpPort);
        else
            c->SetTarget(QHostAddress(), 0);
        c->SetStrictReplies(m_settings.strictReplies);
    }
}

QString AppCore::SettingsPath() const
{
    return QDir(m_dataFolder).filePath(QString::fromLatin1(SettingsFileName));
}

QString AppCore::LogFolder() const
{
    return QDir(m_dataFolder).filePath(QStringLiteral("Logs"));
}

QString AppCore::TempDirectory() const
{
    return QDir(m_dataFolder).filePath(QStringLiteral("Config/Temp"));
}

QString AppCore::FirmwareDirectory() const
{
    return QDir(m_dataFolder).filePath(QStringLiteral("firmware"));
}

QString AppCore::WrittenFile(const DeviceRow* row) const
{
    return tempFile(*this, row, ".WR");
}

QString AppCore::ReadBackFile(const DeviceRow* row) const
{
    return tempFile(*this, row, ".RD");
}

QString AppCore::SavedFile(const DeviceRow* row) const
{
    return tempFile(*this, row, ".ORI");
}

bool AppCore::Busy() const
{
    return m_discovering || m_queue->IsRunning();
}

void AppCore::setStatusText(const QString& text)
{
    m_statusText = text;
    emit statusTextChanged(text);
}

QString AppCore::filterText() const
{
    if (!m_settings.filter)
        return QString();
    QString filter = QStringLiteral("$0.0=") + m_settings.module;
    if (m_settings.module == ManagedModel)
        filter += QStringLiteral("|$0.0=") + ManagedModelAp;
    else if (m_settings.module == ManagedModelAp)
        filter += QStringLiteral("|$0.0=") + ManagedModel;
    return filter;
}

void AppCore::Discover()
{
    if (Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    CheckCanSend({});
    // A name that is no usable interface is the user's to mend: the list stays as it was.
    const QList<VxLocalInterface> chosen =
        ChooseNimpInterfaces(m_settings.nimpInterfaces, LocalInterfaces());
    m_discovering = true;
    m_discoverCancelled = false;
    struct Ending
    {
        bool& flag;
        ~Ending() { flag = false; }
    } ending{m_discovering};

    m_log.Clear();
    m_devices.SetSelectionLocked(false);
    m_devices.ClearRows();
    setStatusText(QString());
    if (m_ui)
        m_ui->ShowProgress(DiscoverCaption, DiscoverPrompt, false);
    // With Filter off every reply is listed, even after an earlier filtered Discover.
    m_discovery->Request().filter = filterText();
    // A broadcast leaves through one interface only, the one the routing table picks (none
    // without a route): it goes out of each chosen interface instead, and each row learns
    // which one its device answered on. Any other NimpAddress is sent to as it stands.
    QList<VxNIMPInterface> via;
    if (m_settings.nimpAddress == QHostAddress(QHostAddress::Broadcast))
        for (const VxLocalInterface& l : chosen)
            via.append({l.index, l.name});
    m_discovery->Request().interfaces = via;
    m_filteredOut.clear();
    m_discoverRoutes.clear();
    const QString port = QString::number(m_settings.nimpPort);
    const QString to = m_settings.nimpAddress.toString() + QStringLiteral(", UDP port ") + port;
    if (via.isEmpty()) {
        m_discoverRoutes.append(QStringLiteral("from the interface the routing table picks to ") + to);
    } else {
        for (const VxLocalInterface& l : chosen) {
            QStringList addresses;
            for (const QNetworkAddressEntry& a : l.ipv4)
                addresses.append(a.ip().toString());
            m_discoverRoutes.append(QStringLiteral("from %1 (%2) to %3")
                                        .arg(l.name, addresses.join(QStringLiteral(", ")), to));
        }
    }

    try {
        if (m_settings.nimpAddress == QHostAddress(QHostAddress::Broadcast) && via.isEmpty() &&
            m_settings.discoveryTimeout > 0 && m_settings.discoveryRetry > 0)
            throw VxError(AppErrorNoLocalAddress,
                          QString::fromLatin1(NimpInterfaceText::NoneUsable));
        for (int n = m_settings.discoveryTimeout; n > 0 && !m_discoverCancelled;
             n -= DiscoveryPassCs) {
            m_discovery->Request().timeout = std::min(n, DiscoveryPassCs);
            for (int i = 0; i < m_settings.discoveryRetry; ++i)
                m_discovery->Execute(NIMP_CMD_DISCOVER);
            // In slices, so that a cancel ends the wait at once with what has answered.
            const int64_t end = TickCount() + (n >= DiscoveryPassCs ? DiscoveryPassCs / 100 : n / 100) * 1000;
            while (!m_discoverCancelled && TickCount() < end)
                WaitMilliseconds(std::min<int64_t>(100, end - TickCount()));
        }
        // What answers after a cancel is not listed.
        if (m_discoverCancelled)
            m_requestClient->Cancel(m_discovery.get());
    } catch (const VxError& e) {
        if (e.code() != NoSocketCode)
            setStatusText(e.message());
    }
    if (m_ui)
        m_ui->CloseProgress();
    m_log.AppendLine(QString::number(m_devices.Count()) + QString::fromLatin1(DiscoveredSuffix));
    if (!m_filteredOut.isEmpty())
        m_log.AppendLine(filteredOutLine());
    // Only a convenience for shell completion: a folder that refuses it fails nothing here,
    // but it is said, as every file that could not be written is.
    if (QString reason; !SaveDiscoveredMacs(m_dataFolder, m_devices, &reason))
        m_log.AppendLine(QStringLiteral("Cannot write %1: %2")
                             .arg(QDir::toNativeSeparators(QDir(m_dataFolder).filePath(
                                      QString::fromLatin1(DiscoveredMacsFileName))),
                                  reason));
}

void AppCore::noteFilteredReply()
{
    // What a reply says is the sender's word: its MAC and model are escaped when shown. A
    // flood of made-up devices is counted but not kept without end.
    const VxNIMPVarList& vars = m_discovery->Request().variables;
    QString model;
    QString mac;
    if (vars.Count() == 1 && vars.Item(0).sub) {
        const VxNIMPResponseVarList& sub = *vars.Item(0).sub;
        for (int i = 0; i < sub.Count(); ++i) {
            if (i == 0)
                model = sub.Item(i).value;
            if (sub.Item(i).id == 2)
                mac = sub.Item(i).value;
        }
    }
    for (const auto& [knownMac, knownModel] : std::as_const(m_filteredOut))
        if (knownMac == mac)
            return;
    if (m_filteredOut.size() < 10000)
        m_filteredOut.append({mac, model});
}

QString AppCore::filteredOutLine() const
{
    constexpr int named = 5;
    QStringList devices;
    for (int i = 0; i < std::min<int>(named, m_filteredOut.size()); ++i)
        devices.append(EscapeUntrusted(m_filteredOut[i].second) + QLatin1Char(' ') +
                       EscapeUntrusted(m_filteredOut[i].first));
    const int count = m_filteredOut.size();
    QString text = count == 1 ? QStringLiteral("1 device of another model not listed: ")
                              : QStringLiteral("%1 devices of another model not listed: ").arg(count);
    text += devices.join(QStringLiteral(", "));
    if (count > named)
        text += QStringLiteral(" and %1 more").arg(count - named);
    return text + (count == 1 ? QStringLiteral("; Filter=0 lists it")
                              : QStringLiteral("; Filter=0 lists them"));
}

void AppCore::RunWithProgress(const QString& caption, const QString& prompt,
                              const std::function<void()>& beforeSummary,
                              const QList<DeviceRow*>& summaryRows)
{
    if (Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    m_devices.SetSelectionLocked(true);
    const QList<DeviceRow*> rows = summaryRows.isEmpty() ? m_devices.SelectedRows() : summaryRows;
    QElapsedTimer clock;
    clock.start();
    const auto finish = [&] {
        if (m_ui)
            m_ui->CloseProgress();
        if (beforeSummary)
            beforeSummary();
        LogAction(OperationSummaryLine(caption, m_devices, rows, clock.elapsed()));
        for (const QString& line : FailedDeviceLines(m_devices, rows))
            LogAction(line);
        m_devices.SetSelectionLocked(false);
    };
    if (m_ui)
        m_ui->ShowProgress(caption, prompt, true);
    try {
        m_queue->Run();
    } catch (const VxError&) {
        finish();
        throw;
    }
    finish();
}

void AppCore::SetIP(const QString& firstAddress, const QString& netmask)
{
    if (Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    const QList<DeviceRow*> rows = m_devices.SelectedRows();
    if (rows.isEmpty())
        return;
    CheckCanSend(rows);
    CommandQueue& q = *m_queue;
    QString address = firstAddress;
    for (DeviceRow* row : rows) {
        m_devices.SetState(row, DeviceState::InRunning);
        q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("2")});
        q.AddCommand(cmdSetIP, row, 0, {m_settings.accessPassword, address, netmask});
        address = NextRunAddress(address);
    }
    q.Append(std::make_unique<Command>(TimedCommand(
        cmdWaitAll, nullptr,
        SettingLimit("NimpSetTimeout", m_settings.nimpSetTimeout, m_settings.timingTolerance),
        {QString::fromLatin1(DeviceStatus::Pending)})));
    for (DeviceRow* row : rows)
        q.AddCommand(
            cmdSetStatusIf, row, 0,
            {QString::fromLatin1(DeviceStatus::InRunning), QString::fromLatin1(DeviceStatus::Ok)});
    RunWithProgress(SetIPCaption, SetIPPrompt);
}

void AppCore::ReadConfiguration(DeviceRow* row)
{
    if (Busy())
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    if (!row)
        return;
    CheckCanSend({row});
    const QString file = ReadBackFile(row);
    m_devices.SetState(row, DeviceState::InRunning);
    m_queue->Append(std::make_unique<Command>(TimedCommand(
        cmdReadConfig, row,
        SettingLimit("ConfigUploadTime", m_settings.configUploadTime, m_settings.timingTolerance),
        {m_settings.accessPassword, file})));
    m_queue->AddCommand(cmdLoadConfig, row, 0, {file});
    RunWithProgress(GetConfigCaption, GetConfigPrompt, {}, {row});
}

void AppCore::CheckCanSend(const QList<DeviceRow*>& rows) const
{
    if (!m_settings.sendBlocked.isEmpty())
        throw VxError(AppErrorUnusableSettings,
                      QStringLiteral("Nothing was sent: the settings in %1 cannot be used.\n%2")
                          .arg(QDir::toNativeSeparators(SettingsPath()), m_settings.sendBlocked));
    const QStringList lines = DeviceListModel::ConflictLines(rows);
    if (lines.isEmpty())
        return;
    throw VxError(AppErrorMacConflict,
                  QStringLiteral("Nothing was sent: deselect the devices whose MAC another host "
                                 "claims, or find that host and discover again.\n")
                      + lines.join(QLatin1Char('\n')));
}

void AppCore::NoteReportedVersion(DeviceRow* row, const QString& version)
{
    m_devices.SetValue(row, DeviceListModel::ColFwVersion, version);
    row->reportedVersion = version;
    if (!row->job.versionBeforeUpgrade.isEmpty() && row->job.versionBeforeUpgrade == version)
        LogAction(DeviceListModel::MacText(row)
                  + QStringLiteral(" reports F/W version %1 as before the upgrade.")
                        .arg(EscapeUntrusted(version)));
    row->job.versionBeforeUpgrade.clear();
}

QString AppCore::ReadConfigValue(const QString& file, const QString& key) const
{
    return ::ReadConfigValue(file, key);
}

std::optional<QString> AppCore::SelectedDeviceFirmware() const
{
    const DeviceRow* row = m_devices.SelectedRows().value(0);
    if (!row)
        return std::nullopt;
    return m_devices.Cell(row, DeviceListModel::ColFwVersion).value_or(QString());
}

QList<ConfigDevice> AppCore::SelectedDevices() const
{
    QList<ConfigDevice> out;
    for (const DeviceRow* row : m_devices.SelectedRows())
        out.append({row->deviceName, DeviceListModel::MacText(row), row->ip});
    return out;
}

bool AppCore::ReadSelectedDevice(ConfigTarget& target)
{
    DeviceRow* row = m_devices.SelectedRows().value(0);
    if (!row)
        return false;
    SetConfig(&target);
    ReadConfiguration(row);
    return true;
}

void AppCore::CancelOperation()
{
    m_queue->Clear();
}

VxTFTPServer& AppCore::TftpServer()
{
    return m_files->Server();
}

void AppCore::OnTftpEvent(const VxTFTPMsg& msg, bool*)
{
    m_files->OnTftpEvent(msg);
}

void AppCore::ReportError(const VxError& error)
{
    LogAction(error.message());
    emit errorReported(error.code(), error.message());
}

