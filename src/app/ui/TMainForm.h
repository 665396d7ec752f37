#pragma once

#include "app/BatchOperations.h"
#include "app/OperationUi.h"
#include "app/ui/TProgressForm.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

class AppCore;
class DeviceListProxy;
struct DeviceRow;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QTabWidget;
class QToolBar;
class QTreeView;
class QUrl;
class TAboutForm;
class TConfig_KTR_4200;

class TSystemForm;
class VxImageList;

// The console's main window: the logo panel with the managed module, the toolbar of the
// operations, the device table (sorted and filtered by the user, with a right-click menu),
// the Action Message log and the status bar. It is the face of the engine (AppCore) and
// answers the engine's questions and progress display. The table's view owns the selection
// the engine works on (through the device list's selection accessors), so an operation acts
// on exactly the rows the user sees selected.
class TMainForm : public QMainWindow, public OperationUi
{
    Q_OBJECT

public:
    // Creates the controls and the engine over the data folder (FormCreate). When the engine
    // cannot start, the error has been shown and InitFailed() is true: the program ends.
    // The window's size, position and column widths come back from the last run (the
    // platform's per-user settings); layout keys of system.ini, where present, win.
    explicit TMainForm(const QString& dataFolder, QWidget* parent = nullptr);
    ~TMainForm() override;

    bool InitFailed() const { return m_initFailed; }
    AppCore& Core() { return *m_core; }

    // Toolbar and menu handlers. Each runs its operation to the end (event loop inside).
    void TB_DiscoverClick();
    void TB_SetIPClick();
    void TB_ConfigUpdateClick();
    void DeviceListViewDblClick();
    void TB_FWUpdateClick();
    void TB_SystemClick();
    void TB_AboutClick();
    // Help: the program's manual page in a viewer of its own (no terminal needed).
    void ManualPageClick();
    void BackUpConfigurationsClick();
    // Writes the shown rows, in the order shown, as CSV or (a .json file) JSON.
    void ExportListClick();
    void CopyMacClick();
    void CopyIPAddressClick();
    void CopyRowClick();

    // Reads system.ini again and shows what changed (module name, Retry column, times).
    void LoadSettings();

    // OperationUi: the progress window and the questions of the engine.
    void ShowProgress(const QString& caption, const QString& prompt, bool abortable) override;
    void CloseProgress() override;
    bool AskYesNo(const QString& text, const QString& caption,
                  Preset preset = Preset::Yes) override;

    TProgressForm* ProgressForm() const { return m_progress; }
    QTreeView* DeviceListView() const { return m_deviceList; }
    DeviceListProxy* DeviceListShown() const { return m_proxy; }
    QLineEdit* FilterEdit() const { return m_filter; }
    QLabel* SelectionCounts() const { return m_counts; }
    QMenu* DeviceListMenu() const { return m_listMenu; }
    QListWidget* ActionMessages() const { return m_log; }
    QMenu* ActionMessagesMenu() const { return m_logMenu; }
    // The status bar's message (the bar's own message, shown elided in its room) and the count.
    QLabel* StatusMessage() const { return m_message; }
    QLabel* ModuleName() const { return m_moduleName; }
    QToolBar* ToolBar() const { return m_toolBar; }
    // Toolbar buttons, menu items and shortcuts by object name (TB_..., MI_...).
    QAction* Action(const char* name) const;
    TConfig_KTR_4200* ConfigForm() const { return m_configForm; }
    // The rows the table shows, in the order it shows them.
    QList<DeviceRow*> ShownRows() const;

    // How modal dialogs and files are asked for; tests replace them.
    std::function<int(QDialog*)> execDialog;
    std::function<QString(const QString& folder)> chooseFirmwareFile;
    std::function<QString(const QString& suggested)> chooseExportFile;
    // The waves of an upgrade of this many devices (a canary, the wave size, the failures
    // that stop it); nothing when the user cancelled.
    std::function<std::optional<UpgradeWavePlan>(int devices)> chooseUpgradePlan;
    // Where the log is saved; empty: cancelled.
    std::function<QString(const QString& suggested)> chooseLogFile;
    // Opens a folder or file with the desktop's program for it.
    std::function<void(const QUrl& url)> openUrl;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    QAction* addTool(const char* name, const char* hint, int image, void (TMainForm::*handler)());
    QAction* addMenuAction(const char* name, const QString& text, void (TMainForm::*handler)());
    // Runs an operation with the toolbar and the list disabled, so no second operation can
    // start and the selection cannot change; errors are shown.
    void runOperation(const std::function<void()>& operation);
    void setBusy(bool busy);
    bool askAllDevices(const QString& text, const QString& caption);
    void showError(const QString& message);
    // After an upgrade: a box naming the devices (by MAC) that now have the factory default
    // password, as the log does; nothing when there are none.
    void showFactoryPasswordNotice(const QStringList& macs);
    void showListMenu(const QPoint& at);
    void updateCounts();
    void updateFilterColumns();
    // Sizes the columns to their contents until the user has sized one.
    void autoSizeColumns();
    void restoreWindowState();
    void saveWindowState();
    void copyColumn(int column);
    // The log pane's context menu: Copy, Select All, Find, Save As.
    void buildLogMenu();
    void copyLogLines();
    void findInLog();
    void saveLog();
    // The side banner drawn to the panel's height (a picture from the layout is left as it is).
    void fitBanner();

    std::unique_ptr<AppCore> m_core;
    bool m_initFailed = false;
    bool m_busy = false;
    bool m_closeRequested = false;
    bool m_columnsUserSized = false;
    bool m_sizingColumns = false;
    bool m_shown = false;
    qint64 m_bannerKey = 0;
    QString m_lastFind;

    QLabel* m_moduleName = nullptr;
    QToolBar* m_toolBar = nullptr;
    VxImageList* m_images = nullptr;
    QLineEdit* m_filter = nullptr;
    QTreeView* m_deviceList = nullptr;
    DeviceListProxy* m_proxy = nullptr;
    QLabel* m_counts = nullptr;
    QLabel* m_message = nullptr;
    QLabel* m_banner = nullptr;
    QFrame* m_logo = nullptr;
    QMenu* m_logMenu = nullptr;
    QMenu* m_listMenu = nullptr;
    QTabWidget* m_pages = nullptr;
    QListWidget* m_log = nullptr;
    QPointer<TProgressForm> m_progress;
    TSystemForm* m_systemForm = nullptr;
    TAboutForm* m_aboutForm = nullptr;
    TConfig_KTR_4200* m_configForm = nullptr;
};

inline constexpr const char* MainFormCaption = "Varnix SkyRay Multiple Nodewarden ";
inline constexpr const char* TftpInitErrorText = "[Tftp Server]Init Error:";

// "3 selected, 5 shown of 8": the status bar's count of the table.
QString SelectionCountsText(int selected, int shown, int total);

// Where the window keeps its size, position and column widths: the platform's per-user
// settings of the program.
inline constexpr const char* WindowSettingsOrganization = "Nodewarden";
inline constexpr const char* WindowSettingsApplication = "nodewarden";
