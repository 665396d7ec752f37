#include "app/ui/TMainForm.h"

#include "app/AppCore.h"
#include "app/BatchOperations.h"
#include "app/CommandQueue.h"
#include "app/DataFolderLock.h"
#include "app/ui/AppIcons.h"
#include "app/ui/TAboutForm.h"
#include "app/ui/TProgressForm.h"
#include "app/ui/TSetIPForm.h"
#include "app/ui/TSystemForm.h"
#include "common/VxError.h"
#include "common/ui/ApplyLayout.h"
#include "common/ui/FileDialogFilter.h"
#include "common/ui/VxImageList.h"
#include "common/ui/VxMessageBox.h"
#include "config/ui/ConfigurationTask.h"
#include "config/ui/TConfig_KTR_4200.h"
#include "tftp/VxTFTPServer.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

const QString LayoutSection = QStringLiteral("Main Form");
const QString DeviceListCaption = QStringLiteral("Device List:");
const QString ActionMessageCaption = QStringLiteral("Action Message");
const QString SetIPAllText = QStringLiteral("Do you want to set IP for all devices?");
const QString SetIPAllCaption = QStringLiteral("Set IP for all devices");
// The upgrade asks with these texts, as it always has.
const QString UpgradeAllText = QStringLiteral("Do you want to set configurations to all devices?");
const QString UpgradeAllCaption = QStringLiteral("Set configurations to all devices");
const QString FirmwareDialogTitle = QStringLiteral("Select firmware image file");
const QString StartUpgradeText = QStringLiteral("Start to upgrade firmware?");
const QString StartUpgradeCaption = QStringLiteral("Upgrade firmware");
const QString NotInThisBuild = QStringLiteral(" (not available in this build)");
constexpr int RetryColumnWidth = 20;

} // namespace

TMainForm::TMainForm(const QString& dataFolder, QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(MainFormCaption));
    QGuiApplication::setApplicationDisplayName(QString::fromLatin1(MainFormCaption));
    setWindowIcon(ProgramIcon());
    execDialog = [](QDialog* d) { return d->exec(); };
    chooseFirmwareFile = [this](const QString& folder) {
        return QFileDialog::getOpenFileName(this, FirmwareDialogTitle, folder,
                                            QString::fromLatin1(AllFilesFilter));
    };

    buildControls();
    resize(650, 476);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    try {
        ApplyLayout(qApp, QDir(dataFolder).filePath(QStringLiteral("system.ini")), LayoutSection,
                    QDir(dataFolder).filePath(QStringLiteral("bmp")));
    } catch (const VxError& e) {
        // A broken picture in the layout leaves the built-in design; the console still works.
        statusBar()->showMessage(e.message());
    }

    try {
        m_core = std::make_unique<AppCore>(dataFolder);
    } catch (const VxError& e) {
        m_initFailed = true;
        const bool tftp = e.message().startsWith(QLatin1String("(VxTFTP)"));
        VxMessageBox(this, tftp ? QString::fromLatin1(TftpInitErrorText) + e.message() : e.message(),
                     QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return;
    }
    m_core->SetUi(this);

    ActionLog& log = m_core->Log();
    for (const QString& line : log.Lines())
        m_log->addItem(line);
    connect(&log, &ActionLog::lineAdded, this, [this](const QString& line) {
        m_log->addItem(line);
        m_log->setCurrentRow(m_log->count() - 1);
    });
    connect(&log, &ActionLog::cleared, m_log, &QListWidget::clear);
    connect(m_core.get(), &AppCore::statusTextChanged, this, [this](const QString& text) { statusBar()->showMessage(text); });
    connect(m_core.get(), &AppCore::errorReported, this,
            [this](int, const QString& message) { statusBar()->showMessage(message); });

    DeviceListModel& devices = m_core->Devices();
    m_deviceList->setModel(&devices);
    QHeaderView* header = m_deviceList->header();
    header->setMinimumSectionSize(0);
    for (int c = 0; c < DeviceListModel::ColRetry; ++c)
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(DeviceListModel::ColRetry, QHeaderView::Fixed);
    header->setStretchLastSection(false);
    connect(m_deviceList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TMainForm::syncSelectionFromView);
    connect(&devices, &DeviceListModel::selectionChanged, this, &TMainForm::syncSelectionToView);
    connect(m_deviceList, &QTreeView::doubleClicked, this, &TMainForm::DeviceListViewDblClick);

    // The configuration window lives as long as this window and keeps its values between tasks.
    try {
        m_configForm = new TConfig_KTR_4200(m_core.get(), this);
        m_core->SetConfig(m_configForm);
    } catch (const VxError& e) {
        statusBar()->showMessage(e.message());
    }

    LoadSettings();
}

TMainForm::~TMainForm()
{
    if (m_progress)
        m_progress->CloseQuietly();
    if (m_core)
        m_core->SetUi(nullptr);
}

QAction* TMainForm::addTool(const char* name, const char* hint, int image, void (TMainForm::*handler)())
{
    auto* action = new QAction(this);
    action->setObjectName(QString::fromLatin1(name));
    action->setText(QString::fromLatin1(hint));
    action->setToolTip(QString::fromLatin1(hint));
    action->setIcon(m_images->Image(image));
    connect(m_images, &VxImageList::changed, action, [this, action, image](int changed) {
        if (changed == image)
            action->setIcon(m_images->Image(image));
    });
    if (handler)
        connect(action, &QAction::triggered, this, handler);
    m_toolBar->addAction(action);
    return action;
}

void TMainForm::buildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto* logo = new QFrame(central);
    logo->setObjectName(QStringLiteral("LogoPanel"));
    logo->setFixedWidth(91);
    auto* image = new QLabel(logo);
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(0, 0, 90, 600);
    image->setPixmap(LogoPicture(90, 600));
    m_moduleName = new QLabel(logo);
    m_moduleName->setObjectName(QStringLiteral("ST_ModuleName"));
    m_moduleName->setGeometry(4, 46, 77, 13);
    m_moduleName->setAlignment(Qt::AlignCenter);
    m_moduleName->setAutoFillBackground(true);
    QPalette modulePalette = m_moduleName->palette();
    modulePalette.setColor(QPalette::Window, QColor(2, 106, 163));
    modulePalette.setColor(QPalette::WindowText, Qt::white);
    m_moduleName->setPalette(modulePalette);
    QFont bold = m_moduleName->font();
    bold.setBold(true);
    bold.setPixelSize(11);
    m_moduleName->setFont(bold);
    outer->addWidget(logo);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    outer->addLayout(right, 1);

    m_images = new VxImageList(this);
    m_images->setObjectName(QStringLiteral("ImageList"));
    for (int i = 0; i < 6; ++i)
        m_images->Append(ToolbarIcon(i));
    m_toolBar = new QToolBar(central);
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setIconSize(QSize(32, 32));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_toolBar->setMovable(false);
    m_toolBar->setMinimumHeight(38 + 4);
    addTool("TB_Discover", "Discover devices", 0, &TMainForm::TB_DiscoverClick);
    addTool("TB_SetIP", "Set IP", 1, &TMainForm::TB_SetIPClick);
    addTool("TB_ConfigUpdate", "Devices configure", 2, &TMainForm::TB_ConfigUpdateClick);
    addTool("TB_FWUpdate", "Upgrade firmware", 3, &TMainForm::TB_FWUpdateClick);
    m_toolBar->addSeparator();
    addTool("TB_System", "System setting", 4, &TMainForm::TB_SystemClick);
    addTool("TB_About", "About", 5, &TMainForm::TB_AboutClick);
    right->addWidget(m_toolBar);

    auto* bar = new QLabel(DeviceListCaption, central);
    bar->setObjectName(QStringLiteral("StaticText1"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setAutoFillBackground(true);
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, QColor(0, 160, 192));
    barPalette.setColor(QPalette::WindowText, Qt::white);
    bar->setPalette(barPalette);
    right->addWidget(bar);

    m_deviceList = new QTreeView(central);
    m_deviceList->setObjectName(QStringLiteral("DeviceListView"));
    m_deviceList->setRootIsDecorated(false);
    m_deviceList->setItemsExpandable(false);
    m_deviceList->setUniformRowHeights(true);
    m_deviceList->setAllColumnsShowFocus(true);
    m_deviceList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_deviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_deviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The selection stays visible when the list loses the focus.
    QPalette listPalette = m_deviceList->palette();
    listPalette.setColor(QPalette::Inactive, QPalette::Highlight, listPalette.color(QPalette::Active, QPalette::Highlight));
    listPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         listPalette.color(QPalette::Active, QPalette::HighlightedText));
    m_deviceList->setPalette(listPalette);
    right->addWidget(m_deviceList, 3);

    m_pages = new QTabWidget(central);
    m_pages->setObjectName(QStringLiteral("MessagePageControl"));
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("TS_Message"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    m_log = new QListWidget(page);
    m_log->setObjectName(QStringLiteral("MO_ActionMessage"));
    m_log->setUniformItemSizes(true);
    pageLayout->addWidget(m_log);
    m_pages->addTab(page, ActionMessageCaption);
    right->addWidget(m_pages, 2);

    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(true);
}

QAction* TMainForm::Action(const char* name) const
{
    return findChild<QAction*>(QString::fromLatin1(name));
}

void TMainForm::LoadSettings()
{
    m_core->LoadSettings();
    const AppSettings& s = m_core->Settings();
    m_moduleName->setText(s.module);
    QHeaderView* header = m_deviceList->header();
    if (s.developerMode) {
        header->setSectionHidden(DeviceListModel::ColRetry, false);
        header->resizeSection(DeviceListModel::ColRetry, RetryColumnWidth);
    } else {
        header->setSectionHidden(DeviceListModel::ColRetry, true);
    }
}

void TMainForm::setBusy(bool busy)
{
    m_busy = busy;
    m_toolBar->setEnabled(!busy);
    m_deviceList->setEnabled(!busy);
}

void TMainForm::showError(const QString& message)
{
    VxMessageBox(this, message, QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
}

void TMainForm::runOperation(const std::function<void()>& operation)
{
    if (m_busy || !m_core || m_core->Busy())
        return;
    // The staged files of the data folder are this console's until the operation ends.
    DataFolderLock folderLock(m_core->DataFolder());
    if (QString error; !folderLock.TryLock(&error)) {
        showError(error);
        return;
    }
    setBusy(true);
    try {
        operation();
    } catch (const VxError& e) {
        CloseProgress();
        showError(e.message());
    }
    setBusy(false);
    if (m_closeRequested)
        close();
}

void TMainForm::syncSelectionFromView()
{
    if (m_syncingSelection)
        return;
    DeviceListModel& devices = m_core->Devices();
    if (devices.SelectionLocked())
        return;
    m_syncingSelection = true;
    QItemSelectionModel* sel = m_deviceList->selectionModel();
    for (int i = 0; i < devices.Count(); ++i)
        devices.SetSelected(devices.Row(i), sel->isRowSelected(i, QModelIndex()));
    m_syncingSelection = false;
}

void TMainForm::syncSelectionToView()
{
    if (m_syncingSelection)
        return;
    m_syncingSelection = true;
    DeviceListModel& devices = m_core->Devices();
    QItemSelection selection;
    const int last = devices.columnCount() - 1;
    for (int i = 0; i < devices.Count();) {
        if (!devices.Row(i)->selected) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < devices.Count() && devices.Row(j + 1)->selected)
            ++j;
        selection.select(devices.index(i, 0), devices.index(j, last));
        i = j + 1;
    }
    m_deviceList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

bool TMainForm::askAllDevices(const QString& text, const QString& caption)
{
    DeviceListModel& devices = m_core->Devices();
    if (devices.SelectedCount() > 0)
        return true;
    if (!AskYesNo(text, caption))
        return false;
    devices.SelectAll();
    return true;
}

void TMainForm::TB_DiscoverClick()
{
    runOperation([this] { m_core->Discover(); });
}

void TMainForm::TB_SetIPClick()
{
    if (m_busy || !m_core || m_core->Devices().Count() == 0)
        return;
    if (!askAllDevices(SetIPAllText, SetIPAllCaption))
        return;
    auto dialog = std::make_unique<TSetIPForm>(this);
    if (m_core->Devices().SelectedCount() == 1)
        dialog->SetSingleMode();
    else
        dialog->SetMultipleMode(m_core->Devices().SelectedCount());
    if (execDialog(dialog.get()) != QDialog::Accepted)
        return;
    const QString ip = dialog->IPAddress();
    const QString mask = dialog->Netmask();
    runOperation([&] { m_core->SetIP(ip, mask); });
}

void TMainForm::TB_ConfigUpdateClick()
{
    runOperation([this] { RunConfigurationTask(*m_core, FindConfigWindow(*m_core)); });
}

void TMainForm::DeviceListViewDblClick()
{
    if (!m_core || m_core->Devices().SelectedCount() == 0)
        return;
    runOperation([this] { RunDeviceConfiguration(*m_core, FindConfigWindow(*m_core)); });
}

void TMainForm::TB_FWUpdateClick()
{
    if (m_busy || !m_core || m_core->Devices().Count() == 0)
        return;
    if (!askAllDevices(UpgradeAllText, UpgradeAllCaption))
        return;
    QDir(m_core->FirmwareDirectory()).mkpath(QStringLiteral("."));
    const QString image = chooseFirmwareFile(m_core->FirmwareDirectory());
    if (image.isEmpty())
        return;
    if (VxMessageBox(this, StartUpgradeText, StartUpgradeCaption, QMessageBox::Ok | QMessageBox::Cancel,
                     QMessageBox::Question) != QMessageBox::Ok)
        return;
    runOperation([&] { UpgradeFirmware(*m_core, image); });
}

void TMainForm::TB_SystemClick()
{
    if (m_busy || !m_core)
        return;
    if (!m_systemForm) {
        try {
            m_systemForm = new TSystemForm(*m_core, m_moduleName->text(), this);
        } catch (const VxError& e) {
            showError(e.message());
            return;
        }
    }
    if (execDialog(m_systemForm) == QDialog::Accepted)
        LoadSettings();
}

void TMainForm::TB_AboutClick()
{
    if (!m_aboutForm)
        m_aboutForm = new TAboutForm(this);
    execDialog(m_aboutForm);
}

void TMainForm::ShowProgress(const QString& caption, const QString& prompt, bool abortable)
{
    CloseProgress();
    auto* progress = new TProgressForm(this);
    progress->setAttribute(Qt::WA_DeleteOnClose, false);
    progress->setWindowTitle(caption);
    progress->SetPrompt(prompt);
    if (abortable)
        progress->SetCloseHook([this] { return m_core->Queue().OnProgressClose(); });
    m_progress = progress;
    progress->show();
}

void TMainForm::CloseProgress()
{
    if (!m_progress)
        return;
    // The window may be inside its own close handler (an abort): free it afterwards.
    m_progress->CloseQuietly();
    m_progress->deleteLater();
    m_progress = nullptr;
}

bool TMainForm::AskYesNo(const QString& text, const QString& caption)
{
    return VxMessageBox(this, text, caption, QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning) ==
           QMessageBox::Yes;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (m_core && m_busy) {
        // An operation runs inside this window's event handler: it must end first. Closing
        // asks to abort it; the window closes when it has ended.
        if (m_core->Queue().IsRunning() && !m_core->Queue().OnProgressClose()) {
            event->ignore();
            return;
        }
        m_closeRequested = true;
        event->ignore();
        return;
    }
    CloseProgress();
    if (m_core) {
        // The engine's last waits run the event loop: no operation may start meanwhile.
        setBusy(true);
        m_core->Shutdown();
    }
    event->accept();
}
