// The device table as the administrator works in it: sorting, the filter and the selection
// it leaves, the counts, the right-click menu, export, the remembered window and the
// progress display's Cancel, against the simulated fleet.
#include "WindowTestBed.h"
#include "app/CommandQueue.h"
#include "app/ui/DeviceListProxy.h"
#include "app/ui/TSetIPForm.h"
#include "common/ui/VxIPAddressPanel.h"
#include "config/ui/TConfig_KTR_4200.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

// Readable failures.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QString shownCell(TMainForm& w, int row, int column)
{
    QAbstractItemModel* m = w.DeviceListView()->model();
    return m->data(m->index(row, column)).toString();
}

QStringList shownColumn(TMainForm& w, int column)
{
    QStringList out;
    for (int r = 0; r < w.DeviceListView()->model()->rowCount(); ++r)
        out.append(shownCell(w, r, column));
    return out;
}

void clickHeader(TMainForm& w, int column)
{
    QHeaderView* header = w.DeviceListView()->header();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// Answers the Set IP dialog with a first address.
std::function<int(QDialog*)> setIPTo(const QString& first)
{
    return [first](QDialog* d) {
        auto* form = qobject_cast<TSetIPForm*>(d);
        if (!form)
            return int(QDialog::Rejected);
        SetIPAddressPanelText(form->PanelIPBegin(), first);
        SetIPAddressPanelText(form->PanelMask(), QStringLiteral("255.255.255.0"));
        return int(QDialog::Accepted);
    };
}

void nameDevices(WindowTestBed& bed, const QStringList& names)
{
    for (int i = 0; i < names.size(); ++i)
        bed.fleet->Device(i).config.SetValue(QStringLiteral("device_name"), names[i]);
}

DeviceRow* rowOf(WindowTestBed& bed, int device)
{
    const QString mac = bed.fleet->Device(device).MacText();
    for (int i = 0; i < bed.devices().Count(); ++i)
        if (bed.devices().GetField(bed.devices().Row(i), QStringLiteral("Mac Address")) == mac)
            return bed.devices().Row(i);
    return nullptr;
}

} // namespace

TEST(DeviceTable, HeaderClicksSortAddressesAsNumbersAndVersionsInNaturalOrder)
{
    Ktr4200FleetOptions o = QuickFleetOptions(4);
    o.baseIp = QStringLiteral("10.0.0.8"); // .8, .9, .10, .11
    o.versionAt = {{0, QStringLiteral("1.2.10")},
                   {1, QStringLiteral("1.10.0")},
                   {2, QStringLiteral("1.2.9")},
                   {3, QStringLiteral("1.2.9a")}};
    WindowTestBed bed(o);
    ASSERT_TRUE(bed.started);
    TMainForm& w = *bed.window;
    ASSERT_TRUE(ShowActive(&w));
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 4);

    clickHeader(w, DeviceListModel::ColIpAddress);
    EXPECT_EQ(shownColumn(w, DeviceListModel::ColIpAddress),
              (QStringList{"10.0.0.8", "10.0.0.9", "10.0.0.10", "10.0.0.11"}));
    clickHeader(w, DeviceListModel::ColIpAddress);
    EXPECT_EQ(shownColumn(w, DeviceListModel::ColIpAddress),
              (QStringList{"10.0.0.11", "10.0.0.10", "10.0.0.9", "10.0.0.8"}));
    clickHeader(w, DeviceListModel::ColFwVersion);
    EXPECT_EQ(shownColumn(w, DeviceListModel::ColFwVersion),
              (QStringList{"1.2.9", "1.2.9a", "1.2.10", "1.10.0"}));

    // The engine walks the selection in the order the table shows.
    QTreeView* view = w.DeviceListView();
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(view->model()->index(3, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QList<DeviceRow*> selected = bed.devices().SelectedRows();
    ASSERT_EQ(selected.size(), 2);
    QStringList versions;
    for (DeviceRow* row : selected)
        versions.append(bed.devices().GetField(row, QStringLiteral("F/W Version")));
    EXPECT_EQ(versions, (QStringList{"1.2.9", "1.10.0"}));

    // Set IP hands out its run of addresses down the table as it is sorted: by IP, descending.
    clickHeader(w, DeviceListModel::ColIpAddress);
    clickHeader(w, DeviceListModel::ColIpAddress);
    ASSERT_EQ(shownColumn(w, DeviceListModel::ColIpAddress).first(), QStringLiteral("10.0.0.11"));
    view->selectAll();
    {
        // The dialog starts from the first device's address and shows the run in the table's
        // order; a run that wraps past .254 is asked about, and No sends nothing.
        RecordingMessageBoxes boxes;
        boxes.answers = {QMessageBox::No};
        QString startedAt;
        QStringList preview;
        w.execDialog = [&](QDialog* d) {
            auto* form = qobject_cast<TSetIPForm*>(d);
            startedAt = form->IPAddress();
            SetIPAddressPanelText(form->PanelIPBegin(), QStringLiteral("10.0.0.253"));
            preview = form->PreviewLines();
            return int(QDialog::Accepted);
        };
        w.Action("TB_SetIP")->trigger();
        EXPECT_EQ(startedAt, QStringLiteral("10.0.0.11"));
        ASSERT_EQ(preview.size(), 4);
        const QStringList to = {"10.0.0.253", "10.0.0.254", "10.0.0.1", "10.0.0.2"};
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(preview[i].contains(QStringLiteral("10.0.0.%1 | %2").arg(11 - i).arg(to[i])))
                << preview[i].toStdString();
        EXPECT_TRUE(preview[2].endsWith(QStringLiteral("the run wrapped past .254 to 10.0.0.1")));
        ASSERT_EQ(boxes.texts.size(), 1);
        EXPECT_TRUE(boxes.texts[0].contains(QStringLiteral("wrapped past .254")));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(bed.fleet->Device(i).counters.setIp, 0) << i;
    }
    w.execDialog = setIPTo(QStringLiteral("10.0.0.100"));
    w.Action("TB_SetIP")->trigger();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bed.fleet->Device(i).IpAddress(), QStringLiteral("10.0.0.%1").arg(103 - i)) << i;
}

TEST(DeviceTable, TheFilterDeselectsWhatItHidesAndOperationsActOnlyOnShownRows)
{
    Ktr4200FleetOptions o = QuickFleetOptions(5);
    o.badPassword = {4};
    WindowTestBed bed(o);
    ASSERT_TRUE(bed.started);
    nameDevices(bed, {"Lobby 1", "Lobby 2", "Roof 1", "Roof 2", "Cellar"});
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.show();
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 5);
    QLabel* counts = w.SelectionCounts();
    EXPECT_EQ(counts->text(), QStringLiteral("0 selected, 5 shown of 5"));

    // The progress window took the activation while Discover ran.
    ASSERT_TRUE(ShowActive(&w));
    w.DeviceListView()->setFocus();
    QTest::keyClick(w.DeviceListView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(counts->text(), QStringLiteral("5 selected, 5 shown of 5"));

    QTest::keyClick(w.DeviceListView(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(w.FilterEdit()->hasFocus());
    QTest::keyClicks(w.FilterEdit(), QStringLiteral("rOOf"));
    EXPECT_EQ(counts->text(), QStringLiteral("2 selected, 2 shown of 5"));
    w.FilterEdit()->clear();
    EXPECT_EQ(counts->text(), QStringLiteral("2 selected, 5 shown of 5"));

    // Started with the filter on, an operation acts on the selected rows shown.
    w.FilterEdit()->setText(QStringLiteral("roof"));
    w.execDialog = setIPTo(QStringLiteral("10.0.0.100"));
    w.Action("TB_SetIP")->trigger();
    EXPECT_EQ(bed.fleet->Device(2).IpAddress(), QStringLiteral("10.0.0.100"));
    EXPECT_EQ(bed.fleet->Device(3).IpAddress(), QStringLiteral("10.0.0.101"));
    for (int i : {0, 1})
        EXPECT_EQ(bed.fleet->Device(i).counters.setIp, 0) << i;
    EXPECT_TRUE(boxes.texts.isEmpty());

    // No row selected: "all devices" are the rows shown.
    w.FilterEdit()->setText(QStringLiteral("cellar"));
    bed.devices().ClearSelection();
    boxes.answers = {QMessageBox::Yes};
    w.execDialog = setIPTo(QStringLiteral("10.0.0.200"));
    w.TB_SetIPClick();
    EXPECT_EQ(boxes.texts, QStringList{QStringLiteral("Do you want to set IP for all devices?")});
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(bed.fleet->Device(i).IpAddress(), QStringLiteral("10.0.0.200")) << i;
    EXPECT_GT(bed.fleet->Device(4).counters.wrongPassword, 0);
    EXPECT_EQ(bed.devices().Outcome(rowOf(bed, 4)), DeviceOutcome::Failed);
    EXPECT_EQ(bed.devices().GetStatus(rowOf(bed, 2)), QStringLiteral("OK"));

    // Rows are drawn by their outcome: the theme's positive green, negative red, else plain.
    w.FilterEdit()->clear();
    QAbstractItemModel* shown = w.DeviceListView()->model();
    const auto colourOf = [&](int device) {
        const QList<DeviceRow*> rows = w.ShownRows();
        const int r = int(rows.indexOf(rowOf(bed, device)));
        return shown->data(shown->index(r, DeviceListModel::ColIpAddress), Qt::ForegroundRole)
            .value<QColor>();
    };
    EXPECT_EQ(colourOf(2).hslHue(), 120);
    EXPECT_EQ(colourOf(4).hslHue(), 0);
    EXPECT_FALSE(colourOf(0).isValid());
}

TEST(DeviceTable, RightClickMenuStartsTheToolbarOperationsAndCopies)
{
    WindowTestBed bed(QuickFleetOptions(3),
                      {{QStringLiteral("ConfigUploadTime"), QStringLiteral("3")}});
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    ASSERT_TRUE(ShowActive(&w));
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 3);

    // A right-click on a row selects it and opens the menu.
    QTreeView* view = w.DeviceListView();
    const QRect second = view->visualRect(view->model()->index(1, 0));
    emit view->customContextMenuRequested(second.center());
    EXPECT_TRUE(w.DeviceListMenu()->isVisible());
    w.DeviceListMenu()->hide();
    const QList<DeviceRow*> selected = bed.devices().SelectedRows();
    ASSERT_EQ(selected.size(), 1);
    const QString mac = bed.devices().GetField(selected[0], QStringLiteral("Mac Address"));
    QStringList menu;
    for (QAction* a : w.DeviceListMenu()->actions())
        if (!a->isSeparator())
            menu.append(a->text());
    EXPECT_EQ(menu, (QStringList{"Configure", "Set IP", "Upgrade Firmware",
                                 QStringLiteral("Back Up Configurations…"), "Copy MAC",
                                 "Copy IP Address", "Copy Row"}));

    QStringList dialogs;
    w.execDialog = [&](QDialog* d) {
        dialogs.append(QString::fromLatin1(d->metaObject()->className()));
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(w.ConfigForm());
    w.ConfigForm()->execModal = w.execDialog;
    QString firmwareFolder;
    w.chooseFirmwareFile = [&](const QString& folder) {
        firmwareFolder = folder;
        return QString();
    };
    w.Action("MI_SetIP")->trigger();
    w.Action("MI_FWUpdate")->trigger();
    w.Action("MI_Configure")->trigger();
    EXPECT_EQ(dialogs, (QStringList{"TSetIPForm", "TConfig_KTR_4200"}));
    EXPECT_EQ(firmwareFolder, bed.core().FirmwareDirectory());
    EXPECT_EQ(bed.fleet->Device(1).counters.put, 1); // Configure read the device first

    // The finished backup names its folder and opens it when asked to.
    QList<QUrl> opened;
    w.openUrl = [&](const QUrl& url) { opened.append(url); };
    boxes.answers = {QMessageBox::Open};
    w.Action("MI_Backup")->trigger();
    const QDir backups(QDir(bed.dir.path()).filePath(QStringLiteral("Backups")));
    const QStringList runs = backups.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(runs.size(), 1);
    const QDir run(backups.filePath(runs[0]));
    EXPECT_EQ(run.entryList(QDir::Files), (QStringList{mac + ".cfg", "index.json"}));
    EXPECT_EQ(bed.devices().GetStatus(selected[0]), QStringLiteral("OK"));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith(QStringLiteral("1 of 1 ")));
    EXPECT_TRUE(boxes.texts[0].endsWith(QDir::toNativeSeparators(run.path())))
        << qPrintable(boxes.texts[0]);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(run.path())});

    w.Action("MI_CopyMac")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), mac);
    w.Action("MI_CopyIP")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), bed.fleet->Device(1).IpAddress());
    w.Action("MI_CopyRow")->trigger();
    EXPECT_TRUE(
        QGuiApplication::clipboard()->text().startsWith(QStringLiteral("KTR-4200\t") + mac + '\t'));
}

TEST(DeviceTable, ExportListWritesTheShownRowsAsCsvOrAsDiscoverJson)
{
    WindowTestBed bed(QuickFleetOptions(3));
    ASSERT_TRUE(bed.started);
    nameDevices(bed, {"North", "South", "North 2"});
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 3);
    w.FilterEdit()->setText(QStringLiteral("north"));
    const QStringList shownMacs = shownColumn(w, DeviceListModel::ColMacAddress);
    ASSERT_EQ(shownMacs.size(), 2);

    const QString csvPath = QDir(bed.dir.path()).filePath(QStringLiteral("list.csv"));
    const QString jsonPath = QDir(bed.dir.path()).filePath(QStringLiteral("list.json"));
    w.chooseExportFile = [&](const QString&) { return csvPath; };
    w.Action("MI_ExportList")->trigger();
    w.chooseExportFile = [&](const QString&) { return jsonPath; };
    w.Action("MI_ExportList")->trigger();
    EXPECT_TRUE(boxes.texts.isEmpty());

    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0],
              QStringLiteral("Model Name,Mac Address,IP Address,Netmask,F/W Version,Device Name"));
    EXPECT_EQ(lines[1].section(',', 1, 1), shownMacs[0]);
    EXPECT_EQ(lines[2].section(',', 1, 1), shownMacs[1]);

    QFile json(jsonPath);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray array = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_EQ(array[0].toObject().keys(), (QStringList{"Device Name", "F/W Version", "IP Address",
                                                       "Mac Address", "Model Name", "Netmask"}));
    EXPECT_EQ(array[1].toObject().value(QStringLiteral("Mac Address")).toString(), shownMacs[1]);
}

TEST(DeviceTable, SizePositionAndColumnWidthsComeBackWhileSystemIniLayoutWins)
{
    WindowTestBed bed(QuickFleetOptions(1));
    {
        TMainForm& w = *bed.window;
        w.show();
        w.resize(903, 641);
        w.DeviceListView()->header()->resizeSection(DeviceListModel::ColDeviceName, 173);
        w.close();
        ASSERT_FALSE(w.isVisible());
    }
    bed.window.reset();
    bed.window = std::make_unique<TMainForm>(bed.dir.path());
    EXPECT_EQ(bed.window->size(), QSize(903, 641));
    EXPECT_EQ(bed.window->DeviceListView()->header()->sectionSize(DeviceListModel::ColDeviceName),
              173);
    bed.window.reset();

    QFile ini(bed.iniPath());
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[Main Form]\r\nMainForm.Width=700\r\n");
    ini.close();
    bed.window = std::make_unique<TMainForm>(bed.dir.path());
    EXPECT_EQ(bed.window->size(), QSize(700, 641));
}

TEST(DeviceTable, ClosingDiscoversProgressEndsItsWaitWithWhatHasAnswered)
{
    WindowTestBed bed(QuickFleetOptions(3), {{QStringLiteral("DiscoveryTimeout"), QStringLiteral("20")}});
    ASSERT_TRUE(bed.started);
    TMainForm& w = *bed.window;
    w.show();
    QTimer::singleShot(600, [&] {
        ASSERT_TRUE(w.ProgressForm());
        w.ProgressForm()->close();
    });
    const int64_t start = TickCount();
    w.TB_DiscoverClick();
    EXPECT_LT(TickCount() - start, 15000); // not the 20 s of the setting
    EXPECT_EQ(bed.devices().Count(), 3);
    EXPECT_EQ(w.ProgressForm(), nullptr);
}

TEST(DeviceTable, CancelOnTheProgressDisplayAsksAndAborts)
{
    Ktr4200FleetOptions o = QuickFleetOptions(2);
    o.silent = {0, 1};
    WindowTestBed bed(o, {{QStringLiteral("NimpSetTimeout"), QStringLiteral("10")}});
    ASSERT_TRUE(bed.started);
    RecordingMessageBoxes boxes;
    TMainForm& w = *bed.window;
    w.show();
    w.TB_DiscoverClick();
    ASSERT_EQ(bed.devices().Count(), 2);
    bed.devices().SelectAll();

    QString devicesShown;
    QString stepShown;
    int barShown = -1;
    bool stillRunningAfterNo = false;
    boxes.answers = {QMessageBox::No, QMessageBox::Yes};
    QTimer::singleShot(400, [&] {
        ASSERT_TRUE(w.ProgressForm());
        devicesShown = w.ProgressForm()->DevicesText();
        stepShown = w.ProgressForm()->StepText();
        barShown = w.ProgressForm()->Position();
        QPushButton* cancel = w.ProgressForm()->CancelButton();
        ASSERT_TRUE(cancel->isVisible());
        QTest::mouseClick(cancel, Qt::LeftButton);
        stillRunningAfterNo =
            bed.core().Queue().IsRunning() && w.ProgressForm() && w.ProgressForm()->isVisible();
    });
    QTimer::singleShot(800, [&] {
        if (w.ProgressForm())
            QTest::mouseClick(w.ProgressForm()->CancelButton(), Qt::LeftButton);
    });
    w.execDialog = setIPTo(QStringLiteral("10.0.0.5"));
    w.TB_SetIPClick();

    EXPECT_EQ(devicesShown, QStringLiteral("0 of 2 devices finished"));
    // Both requests are out: the step is through, the bar at its end, the devices waited for.
    EXPECT_EQ(stepShown, QStringLiteral("Devices get their address: 2 of 2"));
    EXPECT_EQ(barShown, 2);
    EXPECT_TRUE(stillRunningAfterNo);
    EXPECT_EQ(boxes.texts, QStringList(2, QStringLiteral("Are you sure to abort the operations?")));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(bed.devices().GetStatus(bed.devices().Row(i)), QStringLiteral("Aborted!"));
    EXPECT_EQ(w.ProgressForm(), nullptr);
    // The summary, then a line for each device.
    const int lines = w.ActionMessages()->count();
    ASSERT_GE(lines, 3);
    EXPECT_TRUE(w.ActionMessages()->item(lines - 3)->text().contains(
        QStringLiteral("Set IP: 0 OK, 2 failed: 2 aborted while setting the address")));
}
