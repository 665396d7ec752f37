#pragma once

#include "app/ActionLog.h"
#include "app/AppSettings.h"
#include "app/DeviceListModel.h"
#include "app/OperationUi.h"
#include "app/QueueHost.h"
#include "config/ConfigHost.h"

#include <QObject>
#include <functional>
#include <memory>

class CommandQueue;
class DeviceFiles;
class ConfigTarget;
class VxError;
class VxNIMPClient;
class VxNIMPRequest2EditsRepeat;
class VxTFTPServer;
struct VxTFTPMsg;

// The console without its window: settings, the log, the device list, discovery, the command
// queue and the TFTP server. The main window and the command line are views on it.
class AppCore : public QObject, public QueueHost, public ConfigHost
{
    Q_OBJECT

public:
    // Creates the components in start-up order and loads the settings of dataFolder/system.ini.
    // Raises a VxError when a socket cannot be set up or the settings cannot be read.
    explicit AppCore(const QString& dataFolder, QObject* parent = nullptr);
    // Only cancels: outstanding requests and transfers are dropped without a callback. Call
    // Shutdown first for the bounded waits of the program's end.
    ~AppCore() override;

    // The program's end; runs the event loop. Stops the TFTP server (it waits up to 10 s for
    // open transfers), then gives the outstanding NIMP requests of both clients up to 6 s to be
    // answered or to time out, and drops what is left without a callback. The window calls it
    // when it closes, the command line before it ends.
    void Shutdown();

    // Reads system.ini again (after the System dialog) and applies it to the components.
    void LoadSettings();

    const QString& DataFolder() const { return m_dataFolder; }
    QString LogFolder() const; // Logs
    QString SettingsPath() const;
    QString TempDirectory() const; // Config/Temp
    QString FirmwareDirectory() const;
    QString WrittenFile(const DeviceRow* row) const;  // Temp/MAC.WR
    QString ReadBackFile(const DeviceRow* row) const; // Temp/MAC.RD
    QString SavedFile(const DeviceRow* row) const;    // Temp/MAC.ORI

    const AppSettings& Settings() const override { return m_settings; }
    AppSettings& MutableSettings() { return m_settings; }
    ActionLog& Log() { return m_log; }
    void LogAction(const QString& text) override { m_log.LogAction(text); }
    DeviceListModel& Devices() override { return m_devices; }
    CommandQueue& Queue() { return *m_queue; }
    VxTFTPServer& TftpServer();
    DeviceFiles& Files() override { return *m_files; }
    VxNIMPRequest2EditsRepeat& Discovery() { return *m_discovery; }

    // The configuration window (or a file-backed stand-in) that commands load and verify through.
    void SetConfig(ConfigTarget* target) { m_config = target; }
    ConfigTarget* Config() const override { return m_config; }
    void SetUi(OperationUi* ui) { m_ui = ui; }
    OperationUi* Ui() const override { return m_ui; }

    // The status bar's text (Discover writes the message of a sending error into it).
    const QString& StatusText() const { return m_statusText; }

    // Whether an operation or a Discover runs: a second one must not start meanwhile.
    bool Busy() const;

    // Fills the device list from the devices that answer. Runs the event loop for the
    // discovery time, or until CancelDiscover.
    void Discover();
    // Ends a running Discover's wait now; the devices that answered so far stay listed.
    void CancelDiscover() { m_discoverCancelled = true; }
    bool Discovering() const { return m_discovering; }
    // Where the last Discover's requests went: one line per way out ("from eth0 (10.0.0.2)
    // to 255.255.255.255, UDP port 64512").
    const QStringList& DiscoverRoutes() const { return m_discoverRoutes; }
    // Shows the progress display, runs the queue (event loop), closes the display. The
    // selection is locked meanwhile. Errors of the queue close the display and are raised.
    // Either way the operation ends with its summary line in the log (OperationSummaryLine
    // with the caption); beforeSummary, when given, runs just before it, the selection still
    // locked, to give the rows their last word. The summary counts the selected rows, or
    // summaryRows when the operation works on fewer.
    void RunWithProgress(const QString& caption, const QString& prompt,
                         const std::function<void()>& beforeSummary = {},
                         const QList<DeviceRow*>& summaryRows = {});
    // The Set IP operation on the selected rows: the first address as given, the next rows
    // the following addresses (after .254 comes .1).
    void SetIP(const QString& firstAddress, const QString& netmask);
    // Reads the configuration of one device into its read-back file (and loads it into the
    // configuration target); the row ends "OK" when both worked.
    void ReadConfiguration(DeviceRow* row);

    // Raises AppErrorUnusableSettings when the settings forbid sending (see
    // AppSettings::sendBlocked), and AppErrorMacConflict, naming them and what was heard, when
    // any of the rows is a MAC two hosts claimed at Discover: nothing is sent then.
    void CheckCanSend(const QList<DeviceRow*>& rows) const;

    // A Get Version reply named the firmware version the device runs.
    void NoteReportedVersion(DeviceRow* row, const QString& version) override;
    QString ReadConfigValue(const QString& file, const QString& key) const;

    // What the configuration windows ask of the console.
    QString ConfigDataFolder() const override { return m_dataFolder; }
    void ConfigLog(const QString& line) override { LogAction(line); }
    bool ConfigDeveloperMode() const override { return m_settings.developerMode; }
    std::optional<QString> SelectedDeviceFirmware() const override;
    QList<ConfigDevice> SelectedDevices() const override;
    bool ReadSelectedDevice(ConfigTarget& target) override;
    void CancelOperation() override;

    // An error that arose outside any caller that could take it (a reply handler): announced
    // to whoever shows errors, and logged.
    void ReportError(const VxError& error) override;
    // The TFTP server's reports go to the file serving (a test hands them in here).
    void OnTftpEvent(const VxTFTPMsg& msg, bool* cancel);

signals:
    void statusTextChanged(const QString& text);
    void errorReported(int code, const QString& message);

private:
    void setStatusText(const QString& text);
    QString filterText() const;

    QString m_dataFolder;
    AppSettings m_settings;
    ActionLog m_log;
    DeviceListModel m_devices;
    std::unique_ptr<DeviceFiles> m_files;
    std::unique_ptr<CommandQueue> m_queue;
    std::unique_ptr<VxNIMPClient> m_requestClient;
    std::unique_ptr<VxNIMPRequest2EditsRepeat> m_discovery;
    ConfigTarget* m_config = nullptr;
    OperationUi* m_ui = nullptr;
    QString m_statusText;
    bool m_discovering = false;
    QStringList m_discoverRoutes;
    // Devices the filter left out of the last Discover: MAC and model, in the order heard.
    QList<std::pair<QString, QString>> m_filteredOut;
    void noteFilteredReply();
    QString filteredOutLine() const;
    bool m_discoverCancelled = false;
};

// Texts of the operations.
inline constexpr const char* DiscoveredSuffix = " device(s) discovered.";
