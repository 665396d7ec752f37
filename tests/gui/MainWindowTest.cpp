#include "WindowTestBed.h"
#include "app/BatchOperations.h"
#include "app/CommandQueue.h"
#include "app/DataFolderLock.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/TManualForm.h"
#include "app/ui/TProgressForm.h"
#include "app/ui/TSetIPForm.h"
#include "common/ui/VxIPAddressPanel.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

Ktr4200FleetOptions fleetOf(int count)
{
    Ktr4200FleetOptions o;
    o.deviceCount = count;
    return o;
}

} // namespace

TEST(MainWindow, DiscoverFromTheToolbarFillsTheViewWithTheManagedModels)
{
    Ktr4200FleetOptions options = fleetOf(5);
    options.modelAt.insert(1, QStringLiteral("KTR-4200AP"));
    options.modelAt.insert(3, QStringLiteral("KTR-2100"));
    WindowTestBed bed(options);
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    EXPECT_EQ(w.windowTitle(), QString::fromLatin1(MainFormCaption));
    EXPECT_EQ(w.ModuleName()->text(), QStringLiteral("KTR-4200"));
    w.show();

    bool toolbarWasDisabled = false;
    bool progressShown = false;
    QTimer::singleShot(300, [&] {
        toolbarWasDisabled = !w.ToolBar()->isEnabled() && !w.DeviceListView()->isEnabled();
        progressShown = w.ProgressForm() && w.ProgressForm()->isVisible() &&
                        w.ProgressForm()->windowTitle() == QStringLiteral("Discover the devices");
    });
    w.Action("TB_Discover")->trigger();

    EXPECT_TRUE(toolbarWasDisabled);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(w.ToolBar()->isEnabled());
    EXPECT_EQ(w.ProgressForm(), nullptr);
    QAbstractItemModel* model = w.DeviceListView()->model();
    ASSERT_EQ(model->rowCount(), 4); // the other model is filtered out
    EXPECT_EQ(model->data(model->index(1, 0)).toString(), QStringLiteral("KTR-4200AP"));
    EXPECT_EQ(model->data(model->index(0, 1)).toString(), bed.fleet->Device(0).MacText());
    EXPECT_EQ(w.ActionMessages()->count(), 2); // and the one left out, named
    EXPECT_EQ(w.ActionMessages()->item(0)->text(), QStringLiteral("4 device(s) discovered."));
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST(MainWindow, LogLinesAndRetryColumnFollowDeveloperMode)
{
    const QRegularExpression hundredths(QStringLiteral("^\\d\\d:\\d\\d \\d\\d'\\d\\d hello$"));
    const QRegularExpression millis(QStringLiteral("^\\d\\d:\\d\\d \\d\\d'\\d\\d\\d hello$"));
    {
        WindowTestBed bed(fleetOf(1));
        bed.core().LogAction(QStringLiteral("hello"));
        QListWidget* log = bed.window->ActionMessages();
        EXPECT_TRUE(hundredths.match(log->item(log->count() - 1)->text()).hasMatch()) << qPrintable(log->item(0)->text());
        EXPECT_TRUE(bed.window->DeviceListView()->header()->isSectionHidden(DeviceListModel::ColRetry));
    }
    WindowTestBed bed(fleetOf(1), {{QStringLiteral("fleetmgr"), QString::fromLatin1(DeveloperModeKey)}});
    QListWidget* log = bed.window->ActionMessages();
    for (int i = 0; i < 3; ++i)
        bed.core().LogAction(QStringLiteral("hello"));
    EXPECT_TRUE(millis.match(log->item(log->count() - 1)->text()).hasMatch());
    EXPECT_EQ(log->currentRow(), log->count() - 1); // the list follows the newest line
    QHeaderView* header = bed.window->DeviceListView()->header();
    EXPECT_FALSE(header->isSectionHidden(DeviceListModel::ColRetry));
    EXPECT_EQ(header->sectionSize(DeviceListModel::ColRetry), 20);
}

TEST(MainWindow, SetIPForAllDevicesThroughTheDialog)
{
    WindowTestBed bed(fleetOf(3));
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 3);

    QString caption;
    w.execDialog = [&](QDialog* d) {
        auto* form = qobject_cast<TSetIPForm*>(d);
        if (!form)
            return int(QDialog::Rejected);
        caption = form->windowTitle();
        SetIPAddressPanelText(form->PanelIPBegin(), QStringLiteral("10.0.0.253"));
        SetIPAddressPanelText(form->PanelMask(), QStringLiteral("255.255.255.0"));
        return int(QDialog::Accepted);
    };
    boxes.answers = {QMessageBox::Yes};
    w.Action("TB_SetIP")->trigger();

    // The run wraps past .254: asked about (and answered Yes) before anything is sent.
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("Do you want to set IP for all devices?"));
    EXPECT_TRUE(boxes.texts[1].contains(QStringLiteral("the run wrapped past .254 to 10.0.0.1")));
    EXPECT_EQ(boxes.captions, (QStringList{QStringLiteral("Set IP for all devices"), QStringLiteral("Set IP")}));
    EXPECT_EQ(caption, QStringLiteral("Multiple IP Setting"));
    const QStringList expected = {QStringLiteral("10.0.0.253"), QStringLiteral("10.0.0.254"), QStringLiteral("10.0.0.1")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.devices().GetField(bed.devices().Row(i), QStringLiteral("IP Address")), expected[i]);
        EXPECT_EQ(bed.devices().GetStatus(bed.devices().Row(i)), QStringLiteral("OK"));
    }
    // The view shows the engine's selection.
    EXPECT_EQ(w.DeviceListView()->selectionModel()->selectedRows().size(), 3);

    // Answering No sends nothing.
    bed.devices().ClearSelection();
    boxes.answers = {QMessageBox::No};
    caption.clear();
    w.TB_SetIPClick();
    EXPECT_TRUE(caption.isEmpty());
}

TEST(MainWindow, ClosingTheProgressWindowAsksBeforeAborting)
{
    Ktr4200FleetOptions options = fleetOf(2);
    options.silent = {0, 1}; // they are listed, then never acknowledge
    WindowTestBed bed(options, {{QStringLiteral("NimpSetTimeout"), QStringLiteral("10")}});
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.show();
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 2);
    bed.devices().SelectAll();

    bool stillRunningAfterNo = false;
    boxes.answers = {QMessageBox::No, QMessageBox::Yes};
    QTimer::singleShot(400, [&] {
        ASSERT_TRUE(w.ProgressForm());
        w.ProgressForm()->close();
        stillRunningAfterNo = bed.core().Queue().IsRunning() && w.ProgressForm() && w.ProgressForm()->isVisible();
    });
    QTimer::singleShot(800, [&] {
        if (w.ProgressForm())
            w.ProgressForm()->close();
    });
    const int64_t start = TickCount();
    w.execDialog = [](QDialog* d) {
        auto* form = qobject_cast<TSetIPForm*>(d);
        SetIPAddressPanelText(form->PanelIPBegin(), QStringLiteral("10.0.0.5"));
        SetIPAddressPanelText(form->PanelMask(), QStringLiteral("255.0.0.0"));
        return int(QDialog::Accepted);
    };
    w.TB_SetIPClick();
    const int64_t elapsed = TickCount() - start;

    EXPECT_TRUE(stillRunningAfterNo);
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_EQ(boxes.texts[0], QStringLiteral("Are you sure to abort the operations?"));
    EXPECT_EQ(boxes.captions[0], QStringLiteral("Warning"));
    // Enter on the question keeps the operation running.
    EXPECT_EQ(boxes.defaults, QList<QMessageBox::StandardButton>(2, QMessageBox::No));
    EXPECT_LT(elapsed, 8000); // the ten-second wait ended with the abort
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(bed.devices().GetStatus(bed.devices().Row(i)), QStringLiteral("Aborted!"));
    EXPECT_EQ(w.ProgressForm(), nullptr);
    EXPECT_TRUE(w.ToolBar()->isEnabled());
}

TEST(MainWindow, ChangingTheModuleInTheSystemDialogRelabelsTheWindow)
{
    WindowTestBed bed(fleetOf(1));
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.execDialog = [](QDialog* d) {
        d->show(); // fills the fields, as the modal run does
        auto* combo = d->findChild<QComboBox*>(QStringLiteral("CBoxModule"));
        if (!combo)
            return int(QDialog::Rejected);
        combo->setEditText(QStringLiteral("KTR-4200AP"));
        d->findChild<QPushButton*>(QStringLiteral("BtnParamOK"))->click();
        return d->result();
    };
    w.TB_SystemClick();
    EXPECT_TRUE(boxes.texts.isEmpty()) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(w.ModuleName()->text(), QStringLiteral("KTR-4200AP"));
}

TEST(MainWindow, SecondInstanceIsRefusedWhileTheFirstHoldsTheLock)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("instance.lock"));
    QLockFile first(path);
    ASSERT_TRUE(AcquireSingleInstance(first));
    QLockFile second(path);
    EXPECT_FALSE(AcquireSingleInstance(second));
    first.unlock();
    EXPECT_TRUE(AcquireSingleInstance(second));
    EXPECT_TRUE(SingleInstanceLockPath().endsWith(QString::fromLatin1(MainFormCaption) + QStringLiteral(".lock")));
}

TEST(MainWindow, FirmwareUpgradeAsksItsQuestionsBeforeSendingAnything)
{
    WindowTestBed bed(fleetOf(2));
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 2);

    QString folderAsked;
    w.chooseFirmwareFile = [&](const QString& folder) {
        folderAsked = folder;
        return QString(); // the file dialog cancelled
    };
    boxes.answers = {QMessageBox::Yes};
    w.Action("TB_FWUpdate")->trigger();
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Do you want to set configurations to all devices?")});
    EXPECT_EQ(folderAsked, bed.core().FirmwareDirectory());

    const QByteArray image = "FW_VERSION=2.00.01u\n" + QByteArray(12345, 'x');
    const QString imagePath = QDir(bed.core().FirmwareDirectory()).filePath(QStringLiteral("ktr-2.00.bin"));
    QFile imageFile(imagePath);
    ASSERT_TRUE(imageFile.open(QIODevice::WriteOnly));
    imageFile.write(image);
    imageFile.close();
    w.chooseFirmwareFile = [&](const QString&) { return imagePath; };
    boxes.answers = {QMessageBox::Cancel};
    w.TB_FWUpdateClick();
    EXPECT_EQ(boxes.texts.last(), QStringLiteral("Start to upgrade firmware?"));
    EXPECT_EQ(boxes.captions.last(), QStringLiteral("Upgrade firmware"));
    // Below the question: what will be sent, to how many devices, and what they go through.
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    ASSERT_EQ(boxes.details.size(), 1);
    EXPECT_EQ(boxes.details[0], QStringLiteral("Image: ktr-2.00.bin\nSize: 12,365 bytes\nSHA-256: ") + sha.left(12) +
                                    QStringLiteral("\nDevices: 2\nEach device is factory reset and restarted twice; "
                                                   "its configuration is read before and written back after.\n"
                                                   "After the factory reset they keep the factory default "
                                                   "password (the access password cannot be set over NIMP): ")
                                    + bed.devices().GetField(bed.devices().Row(0), QStringLiteral("Mac Address"))
                                    + QStringLiteral(", ")
                                    + bed.devices().GetField(bed.devices().Row(1), QStringLiteral("Mac Address")));
    // Upgraded in waves, the confirmation states the plan; Cancel still sends nothing.
    w.chooseUpgradePlan = [](int) {
        UpgradeWavePlan plan;
        plan.canary = 1;
        plan.wave = 1;
        plan.maxFailures = 0;
        return std::optional<UpgradeWavePlan>(plan);
    };
    boxes.answers = {QMessageBox::Cancel};
    w.TB_FWUpdateClick();
    EXPECT_TRUE(boxes.details.last().endsWith(
        QStringLiteral("\nPlan: 2 device(s): 1 canary, then waves of 1; stop after 1 failure(s)")))
        << boxes.details.last().toStdString();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(bed.devices().GetField(bed.devices().Row(i), QStringLiteral("Status")), QString::fromLatin1(UnknownFieldText));
    EXPECT_EQ(bed.fleet->Device(0).counters.fetch + bed.fleet->Device(1).counters.fetch, 0);
}

TEST(MainWindow, AnUpgradeEndsWithABoxNamingTheDevicesThatNowHaveTheFactoryPassword)
{
    Ktr4200FleetOptions options = QuickFleetOptions(2);
    options.deviceNameAt.insert(1, QStringLiteral("Hall 2"));
    WindowTestBed bed(options, kOneSecondWaits);
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 2);
    bed.devices().SelectAll();
    const QString imagePath = QDir(bed.core().FirmwareDirectory()).filePath(QStringLiteral("ktr.bin"));
    QDir().mkpath(bed.core().FirmwareDirectory());
    QFile imageFile(imagePath);
    ASSERT_TRUE(imageFile.open(QIODevice::WriteOnly));
    imageFile.write("FW_VERSION=2.00.01u\n" + QByteArray(3000, 'x'));
    imageFile.close();
    w.chooseFirmwareFile = [&](const QString&) { return imagePath; };

    w.TB_FWUpdateClick();

    ASSERT_EQ(boxes.texts.size(), 2) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(boxes.texts[1], BatchText::FactoryPasswordNotice.trimmed());
    const QStringList named = boxes.details.value(1).split(QLatin1Char('\n'));
    ASSERT_EQ(named.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(bed.fleet->Device(i).counters.factoryReset, 1);
        EXPECT_TRUE(named[i].contains(bed.fleet->Device(i).MacText())) << qPrintable(named[i]);
        EXPECT_TRUE(named[i].contains(bed.fleet->Device(i).IpAddress())) << qPrintable(named[i]);
    }
    EXPECT_TRUE(named[1].startsWith(QLatin1String("Hall 2 ("))) << qPrintable(named[1]);
}

TEST(MainWindow, SetIPSendsTheAddressAsTyped)
{
    WindowTestBed bed(fleetOf(1));
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 1);
    bed.devices().SelectAll();

    w.execDialog = [&](QDialog* d) {
        auto* form = qobject_cast<TSetIPForm*>(d);
        EXPECT_TRUE(form && ShowActive(form));
        if (!form)
            return int(QDialog::Rejected);
        // The fields start from the device's address; typed from empty here.
        for (QFrame* panel : {form->PanelIPBegin(), form->PanelMask()})
            for (QLineEdit* octet : panel->findChildren<QLineEdit*>())
                octet->clear();
        form->PanelIPBegin()->findChildren<QLineEdit*>().first()->setFocus();
        // The "." after three digits only ends the number the field has already ended.
        TypeBurst(QStringLiteral("192.168.1.10"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        TypeBurst(QStringLiteral("255.255.255.0"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        return form->result();
    };
    w.TB_SetIPClick();

    EXPECT_TRUE(boxes.texts.isEmpty()) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_EQ(bed.fleet->Device(0).IpAddress(), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(bed.fleet->Device(0).Netmask(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(bed.devices().GetStatus(bed.devices().Row(0)), QStringLiteral("OK"));
}

TEST(MainWindow, ADamagedStoredPasswordStartsTheWindowAndIsNamedInTheLog)
{
    RecordingMessageBoxes boxes;
    WindowTestBed bed(fleetOf(1), {{QStringLiteral("NimpWirelessAP"), QStringLiteral("DEADBEEF")}});
    ASSERT_FALSE(bed.window->InitFailed()) << qPrintable(boxes.texts.join(QLatin1Char('|')));
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(bed.core().Settings().accessPassword, QString());
    QListWidget* log = bed.window->ActionMessages();
    ASSERT_GT(log->count(), 1);
    EXPECT_TRUE(log->item(0)->text().contains(QLatin1String("Settings read from ")));
    EXPECT_TRUE(
        log->item(1)->text().contains(QLatin1String("Setting NimpWirelessAP cannot be read")))
        << qPrintable(log->item(1)->text());
}

TEST(MainWindow, AnOperationHoldsTheDataFolderAndOneHeldElsewhereIsRefused)
{
    WindowTestBed bed(fleetOf(1));
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;

    bool heldDuring = false;
    QTimer::singleShot(300, [&] {
        DataFolderLock other(bed.dir.path());
        heldDuring = !other.TryLock(nullptr);
    });
    w.TB_DiscoverClick();
    EXPECT_TRUE(heldDuring);
    ASSERT_EQ(bed.devices().Count(), 1);

    // Another console (here this process) holds the folder: nothing is started, and the
    // message says who holds it.
    DataFolderLock other(bed.dir.path());
    ASSERT_TRUE(other.TryLock(nullptr)); // the window let it go when Discover ended
    const qint64 datagrams = bed.fleet->DatagramsReceived();
    w.TB_DiscoverClick();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].contains(
        QStringLiteral("process %1 ").arg(QCoreApplication::applicationPid())))
        << qPrintable(boxes.texts[0]);
    EXPECT_EQ(bed.devices().Count(), 1);
    EXPECT_EQ(bed.fleet->DatagramsReceived(), datagrams);
}

TEST(MainWindow, TheFirmwareDialogListsFilesWithoutADot)
{
    WindowTestBed bed(fleetOf(1));
    const QString folder = bed.core().FirmwareDirectory();
    QDir().mkpath(folder);
    for (const char* name : {"ktr4200", "other.bin"}) {
        QFile f(QDir(folder).filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("FW_VERSION=2\n");
    }
    QStringList listed;
    QTimer::singleShot(100, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        listed = ListedNames(dialog, QStringLiteral("other.bin"));
        dialog->reject();
    });
    bed.window->chooseFirmwareFile(folder);
    EXPECT_TRUE(listed.contains(QStringLiteral("other.bin")))
        << qPrintable(listed.join(QLatin1Char(',')));
    EXPECT_TRUE(listed.contains(QStringLiteral("ktr4200")))
        << qPrintable(listed.join(QLatin1Char(',')));
}

TEST(MainWindow, TheStatusMessageCountColumnsAndBannerKeepToTheirRoomAsTheWindowIsSized)
{
    WindowTestBed bed(fleetOf(2));
    ASSERT_TRUE(bed.started);
    TMainForm& w = *bed.window;
    w.resize(650, 476);
    ASSERT_TRUE(ShowActive(&w));
    Settle();

    // An empty table: every caption whole, the last column stretched, nothing to scroll.
    QTreeView* view = w.DeviceListView();
    QHeaderView* header = view->header();
    for (int c = 0; c < DeviceListModel::ColRetry; ++c) {
        const QString caption = header->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_GT(header->sectionSize(c), header->fontMetrics().horizontalAdvance(caption)) << c;
    }
    EXPECT_EQ(header->length(), view->viewport()->width());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());

    // A message longer than its room ends elided before the count, and is whole in its tooltip.
    const QString message = QStringLiteral("A status message long enough to need far more room "
                                           "than a window this narrow leaves it. Press Discover.");
    w.statusBar()->showMessage(message);
    for (const QSize size : {QSize(650, 476), QSize(1200, 900)}) {
        w.resize(size);
        Settle();
        QLabel* text = w.StatusMessage();
        QLabel* counts = w.SelectionCounts();
        EXPECT_EQ(text->toolTip(), message);
        const QRect textBox(text->mapTo(&w, QPoint()), text->size());
        const QRect countsBox(counts->mapTo(&w, QPoint()), counts->size());
        EXPECT_FALSE(textBox.intersects(countsBox));
        EXPECT_GE(counts->width(), counts->sizeHint().width());
        // Elided in the narrow window, whole in the wide one.
        EXPECT_TRUE(size.width() > 1000 ? text->text() == message
                                        : text->text().endsWith(QChar(0x2026)));

        // The banner runs down the whole side of the window.
        auto* banner = w.findChild<QLabel*>(QStringLiteral("Image1"));
        ASSERT_TRUE(banner);
        EXPECT_GE(banner->pixmap().height(), banner->parentWidget()->height());
        EXPECT_GE(banner->height(), banner->parentWidget()->height());
    }

    // Columns fit what Discover found.
    w.TB_DiscoverClick();
    for (int c = 0; c < DeviceListModel::ColStatus; ++c)
        EXPECT_GE(header->sectionSize(c),
                  static_cast<QAbstractItemView*>(view)->sizeHintForColumn(c));
}

TEST(MainWindow, MenusHoldTheOperationsWithTheirShortcutsAndTheLogPaneCopiesFindsAndSaves)
{
    WindowTestBed bed(fleetOf(3));
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    ASSERT_TRUE(ShowActive(&w));

    // Every operation in the Devices menu has a shortcut, named in the menu's and the
    // toolbar's tooltips.
    auto* devicesMenu = w.findChild<QMenu*>(QStringLiteral("MN_Devices"));
    ASSERT_TRUE(devicesMenu);
    QStringList shortcuts;
    for (QAction* a : devicesMenu->actions()) {
        if (a->isSeparator())
            continue;
        const QString keys = a->shortcut().toString(QKeySequence::NativeText);
        EXPECT_FALSE(keys.isEmpty()) << qPrintable(a->text());
        EXPECT_TRUE(a->toolTip().endsWith('(' + keys + ')')) << qPrintable(a->toolTip());
        shortcuts.append(keys);
    }
    for (QAction* a : w.ToolBar()->actions())
        if (!a->isSeparator() && a->objectName() != QStringLiteral("TB_About")) {
            const QString tip = a->toolTip();
            const QString keys = tip.mid(tip.lastIndexOf('(') + 1).chopped(1);
            EXPECT_TRUE(shortcuts.contains(keys)) << qPrintable(tip);
        }

    // The Discover key runs Discover.
    QTest::keyClick(&w, Qt::Key_F5);
    ASSERT_EQ(bed.devices().Count(), 3);

    // Ctrl+C in the table copies the selected rows.
    QTreeView* view = w.DeviceListView();
    view->setFocus();
    bed.devices().SetSelected(bed.devices().Row(0), true);
    bed.devices().SetSelected(bed.devices().Row(2), true);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[1].startsWith("KTR-4200\t" + bed.fleet->Device(2).MacText() + '\t'));

    // The log: Select All and Ctrl+C, Find, Save As.
    QListWidget* log = w.ActionMessages();
    bed.core().LogAction(QStringLiteral("second line"));
    QStringList lines;
    for (int r = 0; r < log->count(); ++r)
        lines.append(log->item(r)->text());
    ASSERT_EQ(lines.size(), 2);
    w.Action("MI_LogSelectAll")->trigger();
    log->setFocus();
    QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join('\n'));

    QString sought;
    w.execDialog = [&](QDialog* d) {
        auto* find = qobject_cast<QInputDialog*>(d);
        if (!find)
            return int(QDialog::Rejected);
        find->setTextValue(sought);
        return int(QDialog::Accepted);
    };
    for (const auto& [text, row] : std::initializer_list<std::pair<const char*, int>>{
             {"DISCOVERED", 0}, {"second", 1}, {"absent", 1}}) {
        sought = QString::fromLatin1(text);
        w.Action("MI_LogFind")->trigger();
        EXPECT_EQ(log->currentRow(), row) << text;
    }
    EXPECT_EQ(boxes.beeps, 1);
    EXPECT_TRUE(w.StatusMessage()->toolTip().endsWith(QStringLiteral("absent")));

    const QString saved = QDir(bed.dir.path()).filePath(QStringLiteral("log.txt"));
    w.chooseLogFile = [&](const QString&) { return saved; };
    w.Action("MI_LogSaveAs")->trigger();
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), lines.join('\n') + '\n');

    // Help's manual page (F1), formatted as text in a window of its own.
    if (QStandardPaths::findExecutable(QStringLiteral("groff")).isEmpty())
        GTEST_SKIP() << "groff is not installed";
    ASSERT_TRUE(ShowActive(&w)); // offscreen, no window is the active one any more by here
    QTest::keyClick(&w, Qt::Key_F1);
    auto* manual = w.findChild<TManualForm*>();
    ASSERT_TRUE(manual);
    EXPECT_TRUE(manual->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return manual->Text()->toPlainText().contains("SYNOPSIS"); }))
        << qPrintable(manual->Text()->toPlainText());
}
