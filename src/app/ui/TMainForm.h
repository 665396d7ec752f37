#pragma once

#include "app/OperationUi.h"
#include "app/ui/TProgressForm.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class AppCore;
class QAction;
class QLabel;
class QListWidget;
class QTabWidget;
class QToolBar;
class QTreeView;
class TAboutForm;
class TConfig_KTR_4200;

class TSystemForm;
class VxImageList;

// The console's main window: the logo panel with the managed module, the toolbar of the
// operations, the device list, the Action Message log and the status bar. It is the face of
// the engine (AppCore) and answers the engine's questions and progress display.
class TMainForm : public QMainWindow, public OperationUi
{
    Q_OBJECT

public:
    // Creates the controls and the engine over the data folder (FormCreate). When the engine
    // cannot start, the error has been shown and InitFailed() is true: the program ends.
    explicit TMainForm(const QString& dataFolder, QWidget* parent = nullptr);
    ~TMainForm() override;

    bool InitFailed() const { return m_initFailed; }
    AppCore& Core() { return *m_core; }

    // Toolbar handlers. Each runs its operation to the end (event loop inside).
    void TB_DiscoverClick();
    void TB_SetIPClick();
    void TB_ConfigUpdateClick();
    void DeviceListViewDblClick();
    void TB_FWUpdateClick();
    void TB_SystemClick();
    void TB_AboutClick();

    // Reads system.ini again and shows what changed (module name, Retry column, times).
    void LoadSettings();

    // OperationUi: the progress window and the questions of the engine.
    void ShowProgress(const QString& caption, const QString& prompt, bool abortable) override;
    void CloseProgress() override;
    bool AskYesNo(const QString& text, const QString& caption) override;

    TProgressForm* ProgressForm() const { return m_progress; }
    QTreeView* DeviceListView() const { return m_deviceList; }
    QListWidget* ActionMessages() const { return m_log; }
    QLabel* ModuleName() const { return m_moduleName; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QAction* Action(const char* name) const;
    TConfig_KTR_4200* ConfigForm() const { return m_configForm; }

    // How modal dialogs and the firmware file are asked for; tests replace them.
    std::function<int(QDialog*)> execDialog;
    std::function<QString(const QString& folder)> chooseFirmwareFile;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QAction* addTool(const char* name, const char* hint, int image, void (TMainForm::*handler)());
    // Runs an operation with the toolbar and the list disabled, so no second operation can
    // start and the selection cannot change; errors are shown.
    void runOperation(const std::function<void()>& operation);
    void setBusy(bool busy);
    void syncSelectionFromView();
    void syncSelectionToView();
    bool askAllDevices(const QString& text, const QString& caption);
    void showError(const QString& message);

    std::unique_ptr<AppCore> m_core;
    bool m_initFailed = false;
    bool m_busy = false;
    bool m_closeRequested = false;
    bool m_syncingSelection = false;

    QLabel* m_moduleName = nullptr;
    QToolBar* m_toolBar = nullptr;
    VxImageList* m_images = nullptr;
    QTreeView* m_deviceList = nullptr;
    QTabWidget* m_pages = nullptr;
    QListWidget* m_log = nullptr;
    QPointer<TProgressForm> m_progress;
    TSystemForm* m_systemForm = nullptr;
    TAboutForm* m_aboutForm = nullptr;
    TConfig_KTR_4200* m_configForm = nullptr;
};

inline constexpr const char* MainFormCaption = "Varnix SkyRay Multiple Nodewarden ";
inline constexpr const char* TftpInitErrorText = "[Tftp Server]Init Error:";
