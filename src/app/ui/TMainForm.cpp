#include "app/ui/TMainForm.h"

#include "app/AppCore.h"
#include "app/Backup.h"
#include "app/BatchOperations.h"
#include "app/CommandQueue.h"
#include "app/DataFolderLock.h"
#include "app/DeviceListExport.h"
#include "app/FirmwareImageInfo.h"
#include "app/SetIpPlan.h"
#include "app/ui/AppIcons.h"
#include "app/ui/ConfigurationTask.h"
#include "app/ui/DeviceListProxy.h"
#include "app/ui/TAboutForm.h"
#include "app/ui/TManualForm.h"
#include "app/ui/TProgressForm.h"
#include "app/ui/TSetIPForm.h"
#include "app/ui/TSystemForm.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/WholeFile.h"
#include "common/ui/ApplyLayout.h"
#include "common/ui/FileDialogFilter.h"
#include "common/ui/VxImageList.h"
#include "common/ui/VxMessageBox.h"
#include "config/ui/TConfig_KTR_4200.h"
#include "tftp/VxTFTPServer.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString LayoutSection = QStringLiteral("Main Form");
const QString DeviceListCaption = QStringLiteral("Device List:");
const QString ActionMessageCaption = QStringLiteral("Action Message");
const QString SetIPAllText = QStringLiteral("Do you want to set IP for all devices?");
const QString SetIPAllCaption = QStringLiteral("Set IP for all devices");
const QString FirmwareDialogTitle = QStringLiteral("Select firmware image file");
const QString FilterPlaceholder = QStringLiteral("Filter (Ctrl+F)");
const QString ExportDialogTitle = QStringLiteral("Export List");
const QString CsvFilter = QStringLiteral("CSV files (*.csv)");
const QString JsonFilter = QStringLiteral("JSON files (*.json)");
const QString ExportedText = QStringLiteral("%1 devices exported to %2");
const QString ExportFailText = QStringLiteral("Cannot write %1");
const QString FactoryPasswordCaption = QStringLiteral("Factory default password");
const QString GeometryKey = QStringLiteral("MainWindow/Geometry");
const QString ColumnWidthsKey = QStringLiteral("MainWindow/ColumnWidths");
const QString BackupDoneText = QStringLiteral("%1 of %2 configurations backed up in\n%3");
const QString LogFileTitle = QStringLiteral("Save Action Messages");
const QString LogFileName = QStringLiteral("action-messages.txt");
const QString TextFilter = QStringLiteral("Text files (*.txt)");
const QString LogFindTitle = QStringLiteral("Find");
const QString LogFindLabel = QStringLiteral("Find in the messages:");
const QString LogNotFoundText = QStringLiteral("Not found in the messages: %1");
constexpr int RetryColumnWidth = 20;
constexpr int FilterWidth = 200;

// A label that keeps to the room the layout gives it: its text elided at the end, whole in
// its tooltip. The status bar's message lives in one, so that it never runs under the count.
class ElidedLabel : public QLabel
{
public:
    explicit ElidedLabel(QWidget* parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    void SetFullText(const QString& text)
    {
        m_full = text;
        setToolTip(text);
        elide();
    }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide()
    {
        setText(fontMetrics().elidedText(m_full, Qt::ElideRight, contentsRect().width()));
    }

    QString m_full;
};

// "Set IP (Ctrl+I)": a toolbar button's hint with the shortcut of its menu entry.
void showShortcutInHint(QAction* tool, const QAction* item)
{
    if (!tool || item->shortcut().isEmpty())
        return;
    tool->setToolTip(QStringLiteral("%1 (%2)").arg(
        tool->toolTip(), item->shortcut().toString(QKeySequence::NativeText)));
}

QSettings windowSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromLatin1(WindowSettingsOrganization),
                     QString::fromLatin1(WindowSettingsApplication));
}

} // namespace

QString SelectionCountsText(int selected, int shown, int total)
{
    return QStringLiteral("%1 selected, %2 shown of %3").arg(selected).arg(shown).arg(total);
}

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
    chooseUpgradePlan = [this](int devices) -> std::optional<UpgradeWavePlan> {
        UpgradeWavePlan plan;
        if (devices <= 1)
            return plan;
        // Administrators upgrade a canary first, then waves, and stop when too many fail; the
        // defaults are one wave of every device.
        QDialog dialog(this);
        dialog.setObjectName(QStringLiteral("UpgradePlanForm"));
        dialog.setWindowTitle(BatchText::UpgradeStartCaption);
        auto* canary = new QSpinBox(&dialog);
        canary->setObjectName(QStringLiteral("EdCanary"));
        canary->setRange(0, devices - 1);
        canary->setSpecialValueText(QStringLiteral("none"));
        auto* wave = new QSpinBox(&dialog);
        wave->setObjectName(QStringLiteral("EdWave"));
        wave->setRange(0, devices);
        wave->setSpecialValueText(QStringLiteral("all at once"));
        auto* failures = new QSpinBox(&dialog);
        failures->setObjectName(QStringLiteral("EdMaxFailures"));
        failures->setRange(-1, devices);
        failures->setValue(-1);
        failures->setSpecialValueText(QStringLiteral("never stop"));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        auto* form = new QFormLayout(&dialog);
        form->addRow(QStringLiteral("Devices upgraded alone first (canary)"), canary);
        form->addRow(QStringLiteral("Then devices at a time (wave)"), wave);
        form->addRow(QStringLiteral("Stop before a wave when more have failed than"), failures);
        form->addRow(buttons);
        if (execDialog(&dialog) != QDialog::Accepted)
            return std::nullopt;
        plan.canary = canary->value();
        plan.wave = wave->value();
        if (failures->value() >= 0)
            plan.maxFailures = failures->value();
        return plan;
    };
    chooseLogFile = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, LogFileTitle, suggested, TextFilter);
    };
    openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    chooseExportFile = [this](const QString& suggested) {
        QString filter = CsvFilter;
        QString path =
            QFileDialog::getSaveFileName(this, ExportDialogTitle, suggested,
                                         CsvFilter + QStringLiteral(";;") + JsonFilter, &filter);
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
            path += filter == JsonFilter ? QStringLiteral(".json") : QStringLiteral(".csv");
        return path;
    };

    buildControls();
    resize(650, 476);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    restoreWindowState();

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
        VxMessageBox(this,
                     tftp ? QString::fromLatin1(TftpInitErrorText) + e.message() : e.message(),
                     QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return;
    }
    m_core->SetUi(this);

    ActionLog& log = m_core->Log();
    for (const QString& line : log.Lines())
        m_log->addItem(line);
    connect(&log, &ActionLog::lineAdded, this, [this](const QString& line) {
        m_log->addItem(line);
        // The newest line alone is highlighted, as the list follows it.
        m_log->setCurrentRow(m_log->count() - 1, QItemSelectionModel::ClearAndSelect);
    });
    connect(&log, &ActionLog::cleared, m_log, &QListWidget::clear);
    connect(m_core.get(), &AppCore::statusTextChanged, this,
            [this](const QString& text) { statusBar()->showMessage(text); });
    connect(m_core.get(), &AppCore::errorReported, this,
            [this](int, const QString& message) { statusBar()->showMessage(message); });

    DeviceListModel& devices = m_core->Devices();
    m_proxy->setSourceModel(&devices);
    m_deviceList->setModel(m_proxy);
    // The view's selection is the one every operation acts on.
    devices.SetSelectionModel(m_deviceList->selectionModel());
    QHeaderView* header = m_deviceList->header();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(DeviceListModel::ColRetry, QHeaderView::Fixed);
    // Rows stay in the order they were discovered until a header is clicked; a third click
    // goes back to it.
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    m_deviceList->setSortingEnabled(true);
    {
        QSettings settings = windowSettings();
        const QStringList widths = settings.value(ColumnWidthsKey).toStringList();
        if (widths.size() == DeviceListModel::ColRetry) {
            m_sizingColumns = true;
            for (int c = 0; c < DeviceListModel::ColRetry; ++c)
                header->resizeSection(c, std::max(0, widths.at(c).toInt()));
            m_sizingColumns = false;
            m_columnsUserSized = true;
        }
    }
    connect(header, &QHeaderView::sectionResized, this, [this, header](int column) {
        // The stretched last column follows the window, not the user.
        if (header->stretchLastSection() && column == DeviceListModel::ColStatus)
            return;
        if (!m_sizingColumns && column < DeviceListModel::ColRetry)
            m_columnsUserSized = true;
    });
    connect(header, &QHeaderView::sortIndicatorChanged, this, &TMainForm::autoSizeColumns);
    connect(&devices, &DeviceListModel::selectionChanged, this, &TMainForm::updateCounts);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_proxy, signal, this, &TMainForm::updateCounts);
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &TMainForm::updateCounts);
    connect(m_deviceList, &QTreeView::doubleClicked, this, &TMainForm::DeviceListViewDblClick);

    // The configuration window lives as long as this window and keeps its values between tasks.
    try {
        m_configForm = new TConfig_KTR_4200(m_core.get(), this);
        m_core->SetConfig(m_configForm);
    } catch (const VxError& e) {
        statusBar()->showMessage(e.message());
    }

    LoadSettings();
    updateCounts();
}

TMainForm::~TMainForm()
{
    if (m_progress)
        m_progress->CloseQuietly();
    if (m_core) {
        m_core->SetUi(nullptr);
        // The engine outlives nothing of the view: it goes back to a selection of its own.
        m_core->Devices().SetSelectionModel(nullptr);
    }
    m_deviceList->setModel(nullptr);
    m_proxy->setSourceModel(nullptr);
}

QAction* TMainForm::addTool(const char* name, const char* hint, int image,
                            void (TMainForm::*handler)())
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

QAction* TMainForm::addMenuAction(const char* name, const QString& text,
                                  void (TMainForm::*handler)())
{
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (handler)
        connect(action, &QAction::triggered, this, handler);
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
    m_logo = logo;
    logo->setObjectName(QStringLiteral("LogoPanel"));
    logo->setFixedWidth(91);
    auto* image = new QLabel(logo);
    m_banner = image;
    image->setObjectName(QStringLiteral("Image1"));
    image->setGeometry(0, 0, 90, 600);
    image->setPixmap(LogoPicture(90, 600));
    m_bannerKey = image->pixmap().cacheKey();
    logo->installEventFilter(this);
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

    auto* barRow = new QHBoxLayout;
    barRow->setContentsMargins(0, 0, 0, 0);
    barRow->setSpacing(0);
    auto* bar = new QLabel(DeviceListCaption, central);
    bar->setObjectName(QStringLiteral("StaticText1"));
    bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->setAutoFillBackground(true);
    QPalette barPalette = bar->palette();
    barPalette.setColor(QPalette::Window, QColor(0, 160, 192));
    barPalette.setColor(QPalette::WindowText, Qt::white);
    bar->setPalette(barPalette);
    barRow->addWidget(bar, 1);
    m_filter = new QLineEdit(central);
    m_filter->setObjectName(QStringLiteral("EdFilter"));
    m_filter->setPlaceholderText(FilterPlaceholder);
    m_filter->setClearButtonEnabled(true);
    m_filter->setFixedWidth(FilterWidth);
    barRow->addWidget(m_filter);
    right->addLayout(barRow);

    m_proxy = new DeviceListProxy(this);
    m_deviceList = new QTreeView(central);
    m_deviceList->setObjectName(QStringLiteral("DeviceListView"));
    m_deviceList->setRootIsDecorated(false);
    m_deviceList->setItemsExpandable(false);
    m_deviceList->setUniformRowHeights(true);
    m_deviceList->setAllColumnsShowFocus(true);
    m_deviceList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_deviceList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_deviceList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_deviceList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_deviceList, &QWidget::customContextMenuRequested, this, &TMainForm::showListMenu);
    connect(m_filter, &QLineEdit::textChanged, m_proxy, &DeviceListProxy::SetFilterText);
    // The selection stays visible when the list loses the focus.
    QPalette listPalette = m_deviceList->palette();
    listPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                         listPalette.color(QPalette::Active, QPalette::Highlight));
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
    m_log->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    pageLayout->addWidget(m_log);
    m_pages->addTab(page, ActionMessageCaption);
    right->addWidget(m_pages, 2);

    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setSizeGripEnabled(true);
    // In a container of its own: the bar's own labels are the panels the layout may caption.
    // The message is the bar's own (showMessage), shown in a room of its own left of the
    // count: the bar would paint it across the whole width, under the count.
    auto* messageBox = new QWidget(statusBar());
    auto* messageLayout = new QHBoxLayout(messageBox);
    messageLayout->setContentsMargins(0, 0, 0, 0);
    auto* message = new ElidedLabel(messageBox);
    m_message = message;
    m_message->setObjectName(QStringLiteral("ST_Message"));
    messageLayout->addWidget(m_message);
    statusBar()->addPermanentWidget(messageBox, 1);
    connect(statusBar(), &QStatusBar::messageChanged, message, &ElidedLabel::SetFullText);
    auto* countsBox = new QWidget(statusBar());
    auto* countsLayout = new QHBoxLayout(countsBox);
    countsLayout->setContentsMargins(0, 0, 0, 0);
    m_counts = new QLabel(countsBox);
    m_counts->setObjectName(QStringLiteral("ST_Counts"));
    m_counts->setTextFormat(Qt::PlainText);
    countsLayout->addWidget(m_counts);
    statusBar()->addPermanentWidget(countsBox);

    buildMenus();
}

void TMainForm::buildMenus()
{
    QAction* discover = addMenuAction("MI_Discover", QStringLiteral("Discover Devices"),
                                      &TMainForm::TB_DiscoverClick);
    discover->setShortcut(QKeySequence(Qt::Key_F5));
    QAction* system =
        addMenuAction("MI_System", QStringLiteral("System Settings…"), &TMainForm::TB_SystemClick);
    system->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    QAction* about = addMenuAction("MI_About", QStringLiteral("About"), &TMainForm::TB_AboutClick);
    QAction* manual =
        addMenuAction("MI_Manual", QStringLiteral("Manual Page"), &TMainForm::ManualPageClick);
    manual->setShortcut(QKeySequence(Qt::Key_F1));
    QAction* configure = addMenuAction("MI_Configure", QStringLiteral("Configure"),
                                       &TMainForm::TB_ConfigUpdateClick);
    QAction* setIp = addMenuAction("MI_SetIP", QStringLiteral("Set IP"), &TMainForm::TB_SetIPClick);
    QAction* upgrade = addMenuAction("MI_FWUpdate", QStringLiteral("Upgrade Firmware"),
                                     &TMainForm::TB_FWUpdateClick);
    QAction* backup = addMenuAction("MI_Backup", QStringLiteral("Back Up Configurations…"),
                                    &TMainForm::BackUpConfigurationsClick);
    QAction* copyMac =
        addMenuAction("MI_CopyMac", QStringLiteral("Copy MAC"), &TMainForm::CopyMacClick);
    QAction* copyIp = addMenuAction("MI_CopyIP", QStringLiteral("Copy IP Address"),
                                    &TMainForm::CopyIPAddressClick);
    QAction* copyRow =
        addMenuAction("MI_CopyRow", QStringLiteral("Copy Row"), &TMainForm::CopyRowClick);
    setIp->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    configure->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    upgrade->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    backup->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    // Ctrl+C copies the selected rows while the table has the focus; elsewhere (the filter,
    // the log) it copies what is selected there.
    copyRow->setShortcut(QKeySequence::Copy);
    copyRow->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_deviceList->addAction(copyRow);
    m_deviceList->installEventFilter(this);
    QAction* exportList =
        addMenuAction("MI_ExportList", QStringLiteral("Export List…"), &TMainForm::ExportListClick);
    QAction* quit = addMenuAction("MI_Quit", QStringLiteral("Quit"), nullptr);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    QAction* find = addMenuAction("MI_Find", QStringLiteral("Filter"), nullptr);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] {
        m_filter->setFocus(Qt::ShortcutFocusReason);
        m_filter->selectAll();
    });
    QAction* selectAll = addMenuAction("MI_SelectAll", QStringLiteral("Select All Shown"), nullptr);
    selectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(selectAll, &QAction::triggered, this, [this] {
        if (m_core && !m_busy)
            m_core->Devices().SelectAll();
    });

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("MN_File"));
    file->addAction(exportList);
    file->addAction(backup);
    file->addSeparator();
    file->addAction(quit);
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("MN_Edit"));
    edit->addAction(find);
    edit->addAction(selectAll);
    edit->addSeparator();
    edit->addAction(copyMac);
    edit->addAction(copyIp);
    edit->addAction(copyRow);
    QMenu* operations = menuBar()->addMenu(QStringLiteral("&Devices"));
    operations->setObjectName(QStringLiteral("MN_Devices"));
    for (QAction* a : {discover, setIp, configure, upgrade, backup})
        operations->addAction(a);
    operations->addSeparator();
    operations->addAction(system);
    for (const auto& [tool, item] :
         std::initializer_list<std::pair<const char*, QAction*>>{{"TB_Discover", discover},
                                                                 {"TB_SetIP", setIp},
                                                                 {"TB_ConfigUpdate", configure},
                                                                 {"TB_FWUpdate", upgrade},
                                                                 {"TB_System", system}})
        showShortcutInHint(Action(tool), item);
    for (QAction* a : operations->actions())
        if (!a->shortcut().isEmpty())
            a->setToolTip(
                QStringLiteral("%1 (%2)").arg(QString(a->text()).remove(QStringLiteral("…")),
                                              a->shortcut().toString(QKeySequence::NativeText)));

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("MN_Help"));
    help->addAction(manual);
    help->addAction(about);
    operations->setToolTipsVisible(true);

    buildLogMenu();

    m_listMenu = new QMenu(this);
    m_listMenu->setObjectName(QStringLiteral("PM_DeviceList"));
    m_listMenu->addAction(configure);
    m_listMenu->addAction(setIp);
    m_listMenu->addAction(upgrade);
    m_listMenu->addAction(backup);
    m_listMenu->addSeparator();
    m_listMenu->addAction(copyMac);
    m_listMenu->addAction(copyIp);
    m_listMenu->addAction(copyRow);
}

QAction* TMainForm::Action(const char* name) const
{
    return findChild<QAction*>(QString::fromLatin1(name));
}

QList<DeviceRow*> TMainForm::ShownRows() const
{
    QList<DeviceRow*> rows;
    if (!m_core)
        return rows;
    for (int r = 0; r < m_proxy->rowCount(); ++r)
        rows.append(m_core->Devices().Row(m_proxy->mapToSource(m_proxy->index(r, 0)).row()));
    return rows;
}

void TMainForm::LoadSettings()
{
    m_core->LoadSettings();
    const AppSettings& s = m_core->Settings();
    m_moduleName->setText(s.module);
    QHeaderView* header = m_deviceList->header();
    m_sizingColumns = true;
    // The last column shown takes the rest of the width; the narrow Retry column, when it is
    // shown last, keeps its width.
    if (s.developerMode) {
        header->setStretchLastSection(false);
        header->setSectionHidden(DeviceListModel::ColRetry, false);
        header->resizeSection(DeviceListModel::ColRetry, RetryColumnWidth);
    } else {
        header->setSectionHidden(DeviceListModel::ColRetry, true);
        header->setStretchLastSection(true);
    }
    m_sizingColumns = false;
    updateFilterColumns();
}

void TMainForm::updateFilterColumns()
{
    QSet<int> columns;
    for (int c = 0; c < DeviceListModel::ColumnCount; ++c)
        if (!m_deviceList->header()->isSectionHidden(c))
            columns.insert(c);
    m_proxy->SetFilterColumns(columns);
}

void TMainForm::updateCounts()
{
    if (!m_core)
        return;
    const DeviceListModel& devices = m_core->Devices();
    const int selected = devices.SelectedCount();
    m_counts->setText(SelectionCountsText(selected, m_proxy->rowCount(), devices.Count()));
    for (const char* name : {"MI_CopyMac", "MI_CopyIP", "MI_CopyRow"})
        Action(name)->setEnabled(selected > 0);
}

void TMainForm::autoSizeColumns()
{
    if (m_columnsUserSized)
        return;
    // Each column as wide as its widest cell and its caption; the caption's room for the sort
    // mark only in the sorted column (the header's own hint keeps it in every column, which
    // does not fit the default window).
    QHeaderView* header = m_deviceList->header();
    const QFontMetrics metrics(header->font());
    const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int mark = header->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header);
    const auto* view = static_cast<const QAbstractItemView*>(m_deviceList);
    m_sizingColumns = true;
    for (int c = 0; c < DeviceListModel::ColRetry; ++c) {
        const QString caption = m_proxy->headerData(c, Qt::Horizontal).toString();
        int width = metrics.horizontalAdvance(caption) + margin + 2;
        if (header->sortIndicatorSection() == c)
            width += mark + margin;
        // Cells get the caption's margin too: neighbouring addresses do not run together.
        const int cells = view->sizeHintForColumn(c);
        header->resizeSection(c, std::max(width, cells > 0 ? cells + margin : 0));
    }
    m_sizingColumns = false;
}

void TMainForm::restoreWindowState()
{
    QSettings settings = windowSettings();
    const QByteArray geometry = settings.value(GeometryKey).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void TMainForm::saveWindowState()
{
    QSettings settings = windowSettings();
    settings.setValue(GeometryKey, saveGeometry());
    if (m_columnsUserSized) {
        QStringList widths;
        for (int c = 0; c < DeviceListModel::ColRetry; ++c)
            widths.append(QString::number(m_deviceList->header()->sectionSize(c)));
        settings.setValue(ColumnWidthsKey, widths);
    } else {
        settings.remove(ColumnWidthsKey);
    }
}

void TMainForm::setBusy(bool busy)
{
    m_busy = busy;
    m_toolBar->setEnabled(!busy);
    if (QMenu* operations = findChild<QMenu*>(QStringLiteral("MN_Devices")))
        operations->setEnabled(!busy);
    m_deviceList->setEnabled(!busy);
    m_filter->setEnabled(!busy);
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
    autoSizeColumns();
    updateCounts();
    if (m_closeRequested)
        close();
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

void TMainForm::showListMenu(const QPoint& at)
{
    if (m_busy || !m_core)
        return;
    // A right-click on a row outside the selection makes that row the selection, as a
    // left-click would.
    const QModelIndex index = m_deviceList->indexAt(at);
    if (index.isValid() && !m_deviceList->selectionModel()->isRowSelected(index.row(), {}))
        m_deviceList->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
    m_listMenu->popup(m_deviceList->viewport()->mapToGlobal(at));
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
    const QList<DeviceRow*> rows = m_core->Devices().SelectedRows();
    if (rows.size() == 1)
        dialog->SetSingleMode();
    else
        dialog->SetMultipleMode(int(rows.size()));
    // The run as it would go, before anything is sent; the fields start from the first device.
    const QList<VxLocalInterface> local = LocalInterfaces();
    const auto plan = [this, rows, local](const QString& first) {
        return PlanSetIP(m_core->Devices(), rows, first, local);
    };
    dialog->SetPreview(plan);
    if (!rows.isEmpty())
        dialog->SetAddresses(rows.first()->ip, rows.first()->netmask);
    if (execDialog(dialog.get()) != QDialog::Accepted)
        return;
    const QString ip = dialog->IPAddress();
    const QString mask = dialog->Netmask();
    if (const QList<SetIpPlanEntry> run = plan(ip); SetIpPlanWarns(run)) {
        QStringList lines;
        for (const SetIpPlanEntry& e : run)
            for (const QString& w : e.warnings)
                lines.append(EscapeUntrusted(e.row->macText) + QStringLiteral(": ") + w);
        if (VxMessageBox(this,
                         QStringLiteral("Look twice before these addresses are set:\n%1\n\nSet them "
                                        "anyway?")
                             .arg(lines.join(QLatin1Char('\n'))),
                         QStringLiteral("Set IP"), QMessageBox::Yes | QMessageBox::No,
                         QMessageBox::Warning, QMessageBox::No)
            != QMessageBox::Yes)
            return;
    }
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
    if (!askAllDevices(BatchText::UpgradeAllQuestion, BatchText::UpgradeAllCaption))
        return;
    QDir(m_core->FirmwareDirectory()).mkpath(QStringLiteral("."));
    const QString image = chooseFirmwareFile(m_core->FirmwareDirectory());
    if (image.isEmpty())
        return;
    QStringList macs;
    for (const DeviceRow* row : m_core->Devices().SelectedRows())
        macs.append(DeviceListModel::MacText(row));
    const std::optional<UpgradeWavePlan> plan = chooseUpgradePlan(int(macs.size()));
    if (!plan)
        return;
    QString details = UpgradeConfirmationDetails(ReadFirmwareImageInfo(image), macs);
    // A plan other than all at once is stated with the rest.
    if (plan->canary > 0 || plan->wave > 0 || plan->maxFailures)
        details += QStringLiteral("\nPlan: ") + UpgradePlanText(int(macs.size()), *plan);
    if (VxMessageBoxDetailed(this, BatchText::UpgradeStartQuestion, details,
                             BatchText::UpgradeStartCaption, QMessageBox::Ok | QMessageBox::Cancel,
                             QMessageBox::Question) != QMessageBox::Ok)
        return;
    QStringList factoryReset;
    BatchRunOptions options;
    options.waves = *plan;
    runOperation([&] { UpgradeFirmware(*m_core, image, options, &factoryReset); });
    showFactoryPasswordNotice(factoryReset);
}

void TMainForm::showFactoryPasswordNotice(const QStringList& macs)
{
    if (macs.isEmpty())
        return;
    // The log line scrolls away among the upgrade's lines; which devices no longer take the
    // access password must be seen.
    const DeviceListModel& devices = m_core->Devices();
    QStringList lines;
    for (const QString& mac : macs) {
        const DeviceRow* row = devices.FindByMac(mac);
        lines.append(row ? DeviceIdentityText(row->deviceName, mac, row->ip)
                         : EscapeUntrusted(mac));
    }
    VxMessageBoxDetailed(this, BatchText::FactoryPasswordNotice.trimmed(),
                         lines.join(QLatin1Char('\n')), FactoryPasswordCaption, QMessageBox::Ok,
                         QMessageBox::Warning);
}

void TMainForm::BackUpConfigurationsClick()
{
    if (m_busy || !m_core || m_core->Devices().Count() == 0)
        return;
    if (!askAllDevices(BackupText::AllQuestion, BackupText::AllCaption))
        return;
    BackupOutcome outcome;
    runOperation([this, &outcome] {
        outcome = BackUpConfigurations(*m_core,
                                       DefaultBackupFolder(*m_core, QDateTime::currentDateTime()));
    });
    if (!outcome.indexError.isEmpty())
        showError(outcome.indexError);
    // The folder is named once in the log among the run's lines: say where the files went.
    if (outcome.folder.isEmpty() || !QFileInfo(outcome.folder).isDir())
        return;
    const QString text = BackupDoneText.arg(outcome.ok)
                             .arg(outcome.ok + outcome.failed)
                             .arg(QDir::toNativeSeparators(outcome.folder));
    if (VxMessageBox(this, text, BackupText::Caption, QMessageBox::Open | QMessageBox::Close,
                     outcome.failed ? QMessageBox::Warning : QMessageBox::Information,
                     QMessageBox::Open) == QMessageBox::Open)
        openUrl(QUrl::fromLocalFile(outcome.folder));
}

void TMainForm::ExportListClick()
{
    if (!m_core)
        return;
    const QString path =
        chooseExportFile(QDir(m_core->DataFolder()).filePath(QStringLiteral("devices.csv")));
    if (path.isEmpty())
        return;
    const QList<DeviceRow*> rows = ShownRows();
    const DeviceListModel& devices = m_core->Devices();
    const QByteArray bytes = path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)
                                 ? DeviceRowsToJson(devices, rows)
                                 : DeviceRowsToCsv(devices, rows);
    QString reason;
    if (!WriteWholeFile(path, bytes, &reason)) {
        showError(ExportFailText.arg(QDir::toNativeSeparators(path)) + QStringLiteral(": ") + reason);
        return;
    }
    statusBar()->showMessage(ExportedText.arg(rows.size()).arg(QDir::toNativeSeparators(path)));
}

void TMainForm::copyColumn(int column)
{
    if (!m_core)
        return;
    const DeviceListModel& devices = m_core->Devices();
    QStringList lines;
    for (const DeviceRow* row : devices.SelectedRows()) {
        QStringList cells;
        for (int c = 0; c < DeviceListModel::ColumnCount; ++c)
            if (column < 0 || c == column)
                if (const std::optional<QString> cell = devices.Cell(row, c))
                    cells.append(EscapeUntrusted(*cell));
        lines.append(cells.join(QLatin1Char('\t')));
    }
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void TMainForm::CopyMacClick()
{
    copyColumn(DeviceListModel::ColMacAddress);
}

void TMainForm::CopyIPAddressClick()
{
    copyColumn(DeviceListModel::ColIpAddress);
}

void TMainForm::CopyRowClick()
{
    copyColumn(-1);
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

void TMainForm::ManualPageClick()
{
    // A window of its own, not modal: the page stays open beside the console.
    auto* manual = findChild<TManualForm*>();
    if (!manual)
        manual = new TManualForm(this);
    manual->show();
    manual->raise();
    manual->activateWindow();
}

void TMainForm::buildLogMenu()
{
    m_logMenu = new QMenu(this);
    m_logMenu->setObjectName(QStringLiteral("PM_ActionMessage"));
    QAction* copy = addMenuAction("MI_LogCopy", QStringLiteral("Copy"), &TMainForm::copyLogLines);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_log->addAction(copy);
    m_log->installEventFilter(this);
    QAction* all = addMenuAction("MI_LogSelectAll", QStringLiteral("Select All"), nullptr);
    connect(all, &QAction::triggered, m_log, &QListWidget::selectAll);
    QAction* find = addMenuAction("MI_LogFind", QStringLiteral("Find…"), &TMainForm::findInLog);
    QAction* save = addMenuAction("MI_LogSaveAs", QStringLiteral("Save As…"), &TMainForm::saveLog);
    m_logMenu->addAction(copy);
    m_logMenu->addAction(all);
    m_logMenu->addSeparator();
    m_logMenu->addAction(find);
    m_logMenu->addAction(save);
    connect(m_log, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        Action("MI_LogCopy")->setEnabled(!m_log->selectedItems().isEmpty());
        m_logMenu->popup(m_log->viewport()->mapToGlobal(at));
    });
}

void TMainForm::copyLogLines()
{
    QStringList lines;
    for (int r = 0; r < m_log->count(); ++r)
        if (m_log->item(r)->isSelected())
            lines.append(m_log->item(r)->text());
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void TMainForm::findInLog()
{
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("LogFindForm"));
    dialog.setWindowTitle(LogFindTitle);
    dialog.setLabelText(LogFindLabel);
    dialog.setTextValue(m_lastFind);
    if (execDialog(&dialog) != QDialog::Accepted || dialog.textValue().isEmpty())
        return;
    m_lastFind = dialog.textValue();
    // From the line after the current one, round to it again: Find once more goes on.
    const int count = m_log->count();
    for (int k = 1; k <= count; ++k) {
        const int r = (m_log->currentRow() + k) % count;
        if (m_log->item(r)->text().contains(m_lastFind, Qt::CaseInsensitive)) {
            m_log->setCurrentRow(r);
            m_log->scrollToItem(m_log->item(r));
            return;
        }
    }
    VxBeep();
    statusBar()->showMessage(LogNotFoundText.arg(m_lastFind));
}

void TMainForm::saveLog()
{
    const QString path =
        chooseLogFile(m_core ? QDir(m_core->DataFolder()).filePath(LogFileName) : LogFileName);
    if (path.isEmpty())
        return;
    QStringList lines;
    for (int r = 0; r < m_log->count(); ++r)
        lines.append(m_log->item(r)->text() + QLatin1Char('\n'));
    QString reason;
    if (!WriteWholeFile(path, lines.join(QString()).toUtf8(), &reason))
        showError(ExportFailText.arg(QDir::toNativeSeparators(path)) + QStringLiteral(": ") +
                  reason);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The first show has the window's fonts and style: the columns fit their captions (and
    // whatever rows there are already) from the start.
    if (!m_shown) {
        m_shown = true;
        autoSizeColumns();
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_logo && event->type() == QEvent::Resize)
        fitBanner();
    // An item view takes Ctrl+C for itself and copies its current cell; the table and the log
    // copy every selected row instead.
    if ((watched == m_deviceList || watched == m_log) && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        if (watched == m_log)
            copyLogLines();
        else if (!m_busy)
            CopyRowClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::fitBanner()
{
    // A picture the layout set is shown as it is; the built-in banner is drawn again to the
    // panel's height.
    if (m_banner->pixmap().cacheKey() != m_bannerKey)
        return;
    const int height = std::max(1, m_logo->height());
    if (m_banner->height() == height && m_banner->pixmap().height() == height)
        return;
    m_banner->setGeometry(0, 0, m_banner->width(), height);
    m_banner->setPixmap(LogoPicture(m_banner->width(), height));
    m_bannerKey = m_banner->pixmap().cacheKey();
}

void TMainForm::ShowProgress(const QString& caption, const QString& prompt, bool abortable)
{
    CloseProgress();
    auto* progress = new TProgressForm(this);
    progress->setAttribute(Qt::WA_DeleteOnClose, false);
    progress->setWindowTitle(caption);
    progress->SetPrompt(prompt);
    if (abortable) {
        progress->SetCloseHook([this] { return m_core->Queue().OnProgressClose(); });
        progress->SetDeviceCounter([this] {
            const DeviceListModel& devices = m_core->Devices();
            const QList<DeviceRow*> rows = devices.SelectedRows();
            int finished = 0;
            for (const DeviceRow* row : rows) {
                const DeviceOutcome outcome = devices.Outcome(row);
                finished += outcome == DeviceOutcome::Ok || outcome == DeviceOutcome::Failed;
            }
            return std::make_pair(finished, int(rows.size()));
        });
        progress->SetProgressSource([this] { return m_core->Queue().CurrentProgress(); });
    } else if (m_core->Discovering()) {
        // Discover asks nothing: closing its progress ends the wait with what has answered.
        progress->SetCloseHook([this] {
            m_core->CancelDiscover();
            return true;
        });
    }
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

bool TMainForm::AskYesNo(const QString& text, const QString& caption, Preset preset)
{
    return VxMessageBox(
               this, text, caption, QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
               preset == Preset::No ? QMessageBox::No : QMessageBox::Yes) == QMessageBox::Yes;
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
    saveWindowState();
    if (m_core) {
        // The engine's last waits run the event loop: no operation may start meanwhile.
        setBusy(true);
        m_core->Shutdown();
    }
    event->accept();
}
