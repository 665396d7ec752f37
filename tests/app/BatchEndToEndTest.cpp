// The configuration write and the firmware upgrade against the simulated fleet on 127.0.0.1.
#include "AppTestBed.h"
#include "app/Backup.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "common/VxError.h"
#include "common/Wait.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <gtest/gtest.h>

namespace {


QString writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A configuration as the window's Save button writes it, with 802.11b keys 1 and 3 set and
// key 2 left empty between them.
QString savedConfiguration(AppTestBed& bed, const QByteArray& extraLines = QByteArray())
{
    const QByteArray text = "80211a_ssid =\"Lobby A\"\r\n"
                            "80211a_beacon_interval =200\r\n"
                            "80211b_wep64_key =0x1A 0x2B 0x3C 0x4D 0x5E\r\n"
                            "80211b_wep64_key =\r\n"
                            "80211b_wep64_key =0x11 0x22 0x33 0x44 0x55\r\n" +
                            extraLines;
    return writeFile(QDir(bed.dir.path()).filePath(QStringLiteral("saved.cfg")), text);
}


std::string trace(AppTestBed& bed)
{
    return bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString();
}

} // namespace

TEST(BatchWriteConfig, ThreeDevicesVerifiedHoldTheSettingsAndKeepTheirAddresses)
{
    AppTestBed bed(QuickFleetOptions(3), kOneSecondWaits);
    discoverAll(bed, 3);
    ASSERT_EQ(bed.config.LoadSelectedSettings(savedConfiguration(
                  bed, "ip =10.7.7.7\r\nmask =255.255.255.0\r\ndevice_name =\"Same\"\r\n")),
              0);
    bed.config.SetMultipleDevicesMode();
    ApplyConfiguration(*bed.core);
    SCOPED_TRACE(trace(bed));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        const SimDevice& d = bed.fleet->Device(i);
        EXPECT_EQ(d.config.Value(QStringLiteral("80211a_ssid")), QStringLiteral("Lobby A"));
        EXPECT_EQ(d.config.Value(QStringLiteral("80211a_beacon_interval")), QStringLiteral("200"));
        // Several devices never get one address or one name.
        EXPECT_EQ(d.counters.setIp, 0);
        EXPECT_EQ(d.IpAddress(), QStringLiteral("10.0.0.2%1").arg(i));
        EXPECT_NE(d.DeviceName(), QStringLiteral("Same"));
        EXPECT_EQ(d.counters.reset, 1);
        const QByteArray written = readFile(bed.core->WrittenFile(bed.rowOf(i)));
        EXPECT_TRUE(written.startsWith("KTR-4200\r\n"));
        EXPECT_FALSE(written.contains("10.7.7.7"));
        EXPECT_TRUE(bed.logHas(d.MacText() + QStringLiteral(" Verify config")));
    }
    EXPECT_EQ(bed.ui.captions.last(), BatchText::ConfigureCaption);
    EXPECT_FALSE(bed.ui.showing);
}

TEST(BatchWriteConfig, FailedTransferAndWrongPasswordEndWithTheirOwnTexts)
{
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.tftpFail.insert(1);
    o.badPassword.insert(2);
    AppTestBed bed(o, kOneSecondWaits);
    discoverAll(bed, 3);
    ASSERT_EQ(bed.config.LoadSelectedSettings(savedConfiguration(bed)), 0);
    ApplyConfiguration(*bed.core);
    SCOPED_TRACE(trace(bed));

    EXPECT_EQ(bed.status(0), QStringLiteral("OK"));
    EXPECT_EQ(bed.status(1), QStringLiteral("Not Done!"));
    EXPECT_EQ(bed.devices().GetAction(bed.rowOf(1)), QStringLiteral("Write Config:1"));
    EXPECT_GE(bed.fleet->Device(1).counters.tftpFailures, 1);
    EXPECT_EQ(bed.status(2), QStringLiteral("Password Error!"));
    EXPECT_EQ(bed.fleet->Device(1).counters.reset, 0);
    EXPECT_EQ(bed.fleet->Device(0).config.Value(QStringLiteral("80211a_ssid")),
              QStringLiteral("Lobby A"));
    EXPECT_NE(bed.fleet->Device(1).config.Value(QStringLiteral("80211a_ssid")),
              QStringLiteral("Lobby A"));
}

TEST(BatchWriteConfig, OneDeviceMovesToTheAddressOfItsFile)
{
    AppTestBed bed(QuickFleetOptions(2), kOneSecondWaits);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    DeviceRow* row = bed.rowOf(1);
    ASSERT_NE(row, nullptr);
    bed.devices().SetSelected(row, true);
    ASSERT_EQ(bed.config.LoadSelectedSettings(savedConfiguration(
                  bed, "ip =10.0.0.77\r\nmask =255.255.0.0\r\ndevice_name =\"Hall\"\r\n")),
              0);
    ApplyConfiguration(*bed.core);
    SCOPED_TRACE(trace(bed));

    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("OK"));
    const SimDevice& d = bed.fleet->Device(1);
    EXPECT_EQ(d.counters.setIp, 1);
    EXPECT_EQ(d.IpAddress(), QStringLiteral("10.0.0.77"));
    EXPECT_EQ(d.Netmask(), QStringLiteral("255.255.0.0"));
    EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("IP Address")),
              QStringLiteral("10.0.0.77"));
    EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("Device Name")), QStringLiteral("Hall"));
    EXPECT_EQ(bed.fleet->Device(0).counters.fetch, 0);
}

TEST(BatchWriteConfig, WithoutVerifyResetRowsEndOkAndRowsThatFailedKeepTheirText)
{
    for (const bool reset : {true, false}) {
        Ktr4200FleetOptions o = QuickFleetOptions(2);
        o.tftpFail.insert(1);
        AppTestBed bed(o, kOneSecondWaits);
        discoverAll(bed, 2);
        ASSERT_EQ(bed.config.LoadSelectedSettings(savedConfiguration(bed)), 0);
        BatchRunOptions options;
        options.verify = false;
        options.applyReset = reset;
        ApplyConfiguration(*bed.core, options);
        SCOPED_TRACE(trace(bed));
        EXPECT_EQ(bed.status(0), QStringLiteral("OK")) << reset;
        EXPECT_EQ(bed.status(1), QStringLiteral("Not Done!")) << reset;
        EXPECT_EQ(bed.fleet->Device(0).counters.reset, reset ? 1 : 0);
        EXPECT_EQ(bed.fleet->Device(0).counters.put, 0); // nothing read back
    }
}

TEST(BatchUpgrade, FiveDevicesGetTheNewVersionAndKeepConfigurationAndAddress)
{
    AppTestBed bed(QuickFleetOptions(5), kOneSecondWaits);
    for (int i = 0; i < 5; ++i)
        bed.fleet->Device(i).config.SetValue(QStringLiteral("80211a_ssid"),
                                             QStringLiteral("Floor %1").arg(i));
    // One device runs the new version already: the log says that it did not change.
    bed.fleet->Device(3).version = QStringLiteral("2.00.01u");
    discoverAll(bed, 5);
    QList<QStringList> before;
    for (int i = 0; i < 5; ++i)
        before.append(bed.fleet->Device(i).config.RenderLines());
    const QString image = writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"),
                                    "FW_VERSION=2.00.01u\n" + QByteArray(3000, 'x'));
    // A row left at "Updated" by an earlier run no longer claims a version it may not have.
    bed.devices().SetField(bed.rowOf(4), QStringLiteral("F/W Version"), QStringLiteral("Updated"));

    UpgradeFirmware(*bed.core, image);
    SCOPED_TRACE(trace(bed));

    for (int i = 0; i < 5; ++i) {
        const SimDevice& d = bed.fleet->Device(i);
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        EXPECT_EQ(d.version, QStringLiteral("2.00.01u"));
        EXPECT_EQ(d.counters.factoryReset, 1);
        EXPECT_EQ(d.config.RenderLines(), before.at(i)) << i;
        EXPECT_EQ(d.IpAddress(), QStringLiteral("10.0.0.2%1").arg(i));
        // The version the device reports after the upgrade, not a claim of the console.
        EXPECT_EQ(bed.devices().GetField(bed.rowOf(i), QStringLiteral("F/W Version")),
                  QStringLiteral("2.00.01u"));
        EXPECT_EQ(bed.logHas(d.MacText() + " reports F/W version 2.00.01u as before the upgrade."),
                  i == 3)
            << i;
    }
    EXPECT_EQ(bed.ui.captions.last(), BatchText::UpgradeCaption);
    // Nothing was saved before this run, so there was nothing to keep.
    EXPECT_FALSE(QDir(bed.core->TempDirectory()).exists(QStringLiteral("backup")));
}

TEST(BatchUpgrade, EveryDeviceFailingBeforeTheFirstResetEndsTheListThere)
{
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.tftpFail = {0, 1, 2};
    AppTestBed bed(o, kOneSecondWaits);
    discoverAll(bed, 3);
    const QString image =
        writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"), "FW_VERSION=2.00.01u\n");
    UpgradeFirmware(*bed.core, image);
    SCOPED_TRACE(trace(bed));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("Not Done!"));
        EXPECT_EQ(bed.devices().GetAction(bed.rowOf(i)), QStringLiteral("Read Config"));
        EXPECT_EQ(bed.devices().GetField(bed.rowOf(i), QStringLiteral("Retry")),
                  QStringLiteral("0"));
        EXPECT_EQ(bed.fleet->Device(i).counters.reset, 0);
        EXPECT_EQ(bed.fleet->Device(i).counters.factoryReset, 0);
        EXPECT_EQ(bed.fleet->Device(i).version, QStringLiteral("1.02.07u"));
    }
    EXPECT_EQ(bed.queue().Count(), 0);
    EXPECT_FALSE(bed.ui.showing);
}

TEST(BatchUpgrade, ARetryAfterAFailureKeepsTheFirstSavedConfigurationAsABackup)
{
    AppTestBed bed(QuickFleetOptions(1), kOneSecondWaits);
    SimDevice& device = bed.fleet->Device(0);
    device.config.SetValue(QStringLiteral("80211a_ssid"), QStringLiteral("Own settings"));
    // The first run loses the device right after its factory reset.
    QObject::connect(bed.fleet.get(), &Ktr4200Fleet::RequestHandled, [&](int index, int, int) {
        if (bed.fleet->Device(index).counters.factoryReset == 1)
            bed.fleet->Device(index).badPassword = true;
    });
    discoverAll(bed, 1);
    const QString image =
        writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"), "FW_VERSION=2.00.01u\n");
    UpgradeFirmware(*bed.core, image);
    ASSERT_EQ(bed.status(0), QStringLiteral("Password Error!")) << trace(bed);
    const QByteArray own = readFile(bed.core->SavedFile(bed.rowOf(0)));
    ASSERT_TRUE(own.contains("Own settings"));
    EXPECT_NE(device.config.Value(QStringLiteral("80211a_ssid")), QStringLiteral("Own settings"));

    QObject::disconnect(bed.fleet.get(), &Ktr4200Fleet::RequestHandled, nullptr, nullptr);
    device.badPassword = false;
    UpgradeFirmware(*bed.core, image);
    SCOPED_TRACE(trace(bed));
    EXPECT_EQ(bed.status(0), QStringLiteral("OK"));

    const QDir backup(QDir(bed.core->TempDirectory()).filePath(QStringLiteral("backup")));
    const QStringList kept = backup.entryList({device.MacText() + QStringLiteral("-*.ORI")});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(backup.filePath(kept.first())), own);
    EXPECT_TRUE(bed.logHas(device.MacText() + BatchText::SavedConfigKept +
                           QDir::toNativeSeparators(backup.filePath(kept.first()))));
    // The new saved file is what the device held after the failed run.
    EXPECT_FALSE(readFile(bed.core->SavedFile(bed.rowOf(0))).contains("Own settings"));
}

TEST(BatchUpgrade, AnImageThatCannotBeUsedIsRefusedBeforeAnythingIsSent)
{
    AppTestBed bed(QuickFleetOptions(2), kOneSecondWaits);
    discoverAll(bed, 2);
    const qint64 afterDiscover = bed.fleet->DatagramsReceived();
    const QString folder = bed.core->FirmwareDirectory();
    const QString empty = writeFile(QDir(folder).filePath("empty.bin"), QByteArray());
    // A device's saved configuration picked by mistake: the devices would flash it.
    const QString saved = writeFile(QDir(folder).filePath("021A2B000001.ORI"),
                                    "KTR-4200\r\n80211a_ssid =\"Lobby\"\r\n80211a_dtim =1\r\n");
    for (const QString& image :
         {QDir(folder).filePath("missing.bin"), empty, folder, QString(), saved}) {
        try {
            UpgradeFirmware(*bed.core, image);
            ADD_FAILURE() << "accepted " << image.toStdString();
        } catch (const VxError& e) {
            EXPECT_EQ(e.code(), AppErrorFirmwareImage);
            if (image == saved) {
                EXPECT_EQ(e.message(), saved + QStringLiteral(" is a configuration file (its first "
                                                              "line is the model name KTR-4200), "
                                                              "not a firmware image."));
            }
        }
    }
    EXPECT_EQ(bed.fleet->DatagramsReceived(), afterDiscover);
    EXPECT_NE(bed.status(0), QStringLiteral("....."));
}

TEST(BatchParallel, SixteenDevicesInFlightAndASilentOneTimesOutOnItsOwnDeadline)
{
    Ktr4200FleetOptions o = QuickFleetOptions(16);
    o.silent = {5};
    // Each transfer's acknowledgement comes late, so the transfers overlap.
    o.replyDelayMs = 300;
    AppTestBed bed(o, kOneSecondWaits);
    discoverAll(bed, 16);
    ASSERT_EQ(bed.config.LoadSelectedSettings(savedConfiguration(bed)), 0);
    bed.config.SetMultipleDevicesMode();
    ApplyConfiguration(*bed.core);
    SCOPED_TRACE(trace(bed));

    for (int i = 0; i < 16; ++i) {
        if (i == 5)
            continue;
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        EXPECT_EQ(bed.fleet->Device(i).config.Value(QStringLiteral("80211a_ssid")),
                  QStringLiteral("Lobby A"));
    }
    // The silent device failed at its own step while the others went on around it: its
    // deadline and its request's time-out come at the same moment here, either may tell.
    EXPECT_TRUE(bed.status(5) == QStringLiteral("-Time Out-")
                || bed.status(5) == QStringLiteral("Timeout!"))
        << bed.status(5).toStdString();
    EXPECT_EQ(bed.devices().GetAction(bed.rowOf(5)), QStringLiteral("Write Config:1"));
    EXPECT_EQ(bed.queue().PeakHeldCount(), std::min(16, bed.core->Settings().parallelTransfers));
}

TEST(BatchParallel, AnAbortWithEightTransfersInFlightLeavesEveryRowAbortedForGood)
{
    Ktr4200FleetOptions o = QuickFleetOptions(10);
    o.replyDelayMs = 1500;
    QMap<QString, QString> ini = kOneSecondWaits;
    ini[QStringLiteral("DiscoveryTimeout")] = QStringLiteral("3");
    ini[QStringLiteral("ParallelTransfers")] = QStringLiteral("8");
    AppTestBed bed(o, ini);
    discoverAll(bed, 10);
    if (bed.core->Settings().parallelTransfers < 8)
        GTEST_SKIP() << "needs eight transfers at once";
    CommandQueue& q = bed.queue();
    for (int i = 0; i < 10; ++i) {
        DeviceRow* row = bed.rowOf(i);
        bed.devices().SetStatus(row, QStringLiteral("....."));
        q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("2")});
        q.AddCommand(cmdReadConfig, row, 500, {QString(), bed.core->ReadBackFile(row)});
        q.AddCommand(cmdSetStatusIf, row, 0, {QStringLiteral("....."), QStringLiteral("OK")});
    }
    QTimer abortAtEight;
    int heldAtAbort = 0;
    QObject::connect(&abortAtEight, &QTimer::timeout, [&] {
        if (q.HeldCount() == 8 && heldAtAbort == 0) {
            heldAtAbort = q.HeldCount();
            q.Abort();
        }
    });
    abortAtEight.start(10);
    bed.core->RunWithProgress(QStringLiteral("Read"), QStringLiteral("Reading..."));
    abortAtEight.stop();
    ASSERT_EQ(heldAtAbort, 8);
    EXPECT_FALSE(q.Waiting());

    QStringList before;
    for (int i = 0; i < 10; ++i)
        before.append(bed.status(i) + bed.devices().GetAction(bed.rowOf(i))
                      + bed.devices().GetField(bed.rowOf(i), QStringLiteral("Retry")));
    // The devices answer after the abort: logged, and no row changes.
    const int linesAtAbort = bed.core->Log().Lines().size();
    WaitMilliseconds(2500);
    EXPECT_GT(bed.core->Log().Lines().size(), linesAtAbort);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("Aborted!")) << i;
        EXPECT_EQ(bed.status(i) + bed.devices().GetAction(bed.rowOf(i))
                      + bed.devices().GetField(bed.rowOf(i), QStringLiteral("Retry")),
                  before.at(i));
    }
}

TEST(BatchUpgrade, AnAbortAfterTheFactoryResetNamesTheSavedConfigurationsAndGuardsTheRerun)
{
    AppTestBed bed(QuickFleetOptions(3), kOneSecondWaits);
    for (int i = 0; i < 3; ++i)
        bed.fleet->Device(i).config.SetValue(QStringLiteral("80211a_ssid"),
                                             QStringLiteral("Floor %1").arg(i));
    discoverAll(bed, 3);
    QList<QStringList> before;
    for (int i = 0; i < 3; ++i)
        before.append(bed.fleet->Device(i).config.RenderLines());
    const QString image = writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"),
                                    "FW_VERSION=2.00.01u\n" + QByteArray(3000, 'x'));
    // Aborted while the devices reboot from their factory reset.
    QTimer abortAfterFactoryReset;
    QObject::connect(&abortAfterFactoryReset, &QTimer::timeout, [&] {
        for (int i = 0; i < 3; ++i)
            if (!bed.rowOf(i)->job.factoryResetSent)
                return;
        abortAfterFactoryReset.stop();
        bed.queue().Abort();
    });
    abortAfterFactoryReset.start(10);
    UpgradeFirmware(*bed.core, image);
    SCOPED_TRACE(trace(bed));

    const QList<InterruptedUpgrade> interrupted =
        InterruptedUpgrades(*bed.core, bed.devices().SelectedRows());
    ASSERT_EQ(interrupted.size(), 3);
    QStringList macs;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("Aborted!"));
        EXPECT_EQ(bed.fleet->Device(i).counters.factoryReset, 1);
        const InterruptedUpgrade& u = interrupted.at(i);
        EXPECT_EQ(u.mac, bed.fleet->Device(i).MacText());
        EXPECT_TRUE(bed.logHas(u.mac + BatchText::InterruptedUpgradeLogged.arg(
                                           QDir::toNativeSeparators(u.savedFile), RestoreCommand(u))));
        EXPECT_TRUE(RestoreCommand(u).contains(QStringLiteral("--factory-password")));
        macs.append(u.mac);
    }
    EXPECT_TRUE(bed.logHas(BatchText::FactoryPasswordNotice + macs.join(QStringLiteral(", "))));

    // The obvious re-run would save factory settings as the devices' configuration: refused
    // (the command line without --force), or asked (the window; No here), before anything is sent.
    const qint64 requests = bed.fleet->DatagramsReceived();
    BatchRunOptions refuse;
    refuse.afterInterruptedUpgrade = false;
    EXPECT_THROW(UpgradeFirmware(*bed.core, image, refuse), VxError);
    bed.ui.answer = false;
    EXPECT_THROW(UpgradeFirmware(*bed.core, image), VxError);
    EXPECT_TRUE(bed.ui.questions.last().startsWith(BatchText::InterruptedUpgradeCaption));
    EXPECT_EQ(bed.fleet->DatagramsReceived(), requests);

    // The restore the log names gives each device its own configuration back and clears the
    // record (once the devices have come back from their factory reset).
    WaitMilliseconds(500);
    bed.ui.answer = true;
    for (int i = 0; i < 3; ++i) {
        bed.devices().ClearSelection();
        bed.devices().SetSelected(bed.rowOf(i), true);
        ASSERT_EQ(bed.config.LoadSelectedSettings(interrupted.at(i).savedFile), 0);
        BatchRunOptions restore;
        restore.factoryPassword = true;
        ApplyConfiguration(*bed.core, restore);
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i << trace(bed);
        EXPECT_EQ(bed.fleet->Device(i).config.RenderLines(), before.at(i)) << i;
    }
    bed.devices().SelectAll();
    EXPECT_TRUE(InterruptedUpgrades(*bed.core, bed.devices().SelectedRows()).isEmpty());
}

TEST(BatchUpgrade, AnAbortDuringTheFlashLeavesTheRowsWhatTheDevicesDidAndTheBackupTheirReportedVersion)
{
    AppTestBed bed(QuickFleetOptions(3), kOneSecondWaits);
    discoverAll(bed, 3);
    const QString image = writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"),
                                    "FW_VERSION=2.00.01u\n" + QByteArray(3000, 'x'));
    // Aborted with every flash asked for and none answered yet: the answers come after it.
    QTimer abortDuringFlash;
    QObject::connect(&abortDuringFlash, &QTimer::timeout, [&] {
        for (int i = 0; i < 3; ++i)
            if (bed.rowOf(i)->job.lastCommand != cmdFirmwareFlash)
                return;
        abortDuringFlash.stop();
        bed.queue().Abort();
    });
    abortDuringFlash.start(5);
    UpgradeFirmware(*bed.core, image);
    const QStringList lines = bed.core->Log().Lines();
    WaitMilliseconds(600);
    SCOPED_TRACE(trace(bed));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("Aborted!")) << i;
        EXPECT_EQ(bed.fleet->Device(i).counters.flash, 1) << i;
        // The late "Firmware update OK." reaches the row; its Status stays.
        EXPECT_EQ(bed.devices().GetField(bed.rowOf(i), QStringLiteral("F/W Version")),
                  QStringLiteral("Updated"))
            << i;
    }
    bool summary = false;
    for (const QString& line : lines)
        summary = summary
                  || line.contains(QStringLiteral(
                      "Upgrade Firmware: 0 OK, 3 failed: 3 aborted while flashing the image"));
    EXPECT_TRUE(summary);

    // A backup then records the version each device last reported, not the word of the cell.
    bed.devices().SelectAll();
    const BackupOutcome backup =
        BackUpConfigurations(*bed.core, QDir(bed.dir.path()).filePath(QStringLiteral("bk")));
    ASSERT_TRUE(backup.indexWritten);
    const QByteArray index = readFile(backup.indexFile);
    EXPECT_FALSE(index.contains("Updated")) << index.toStdString();
    EXPECT_EQ(index.count("\"firmware\": \"1.02.07u\""), 3) << index.toStdString();
}

TEST(BatchParallel, SixteenDevicesFetchOneImageNameWhileOthersPutTheirOwnConfiguration)
{
    Ktr4200FleetOptions o = QuickFleetOptions(16);
    // Paced transfers of a 64 KiB image overlap the saves of the devices after them.
    o.tftpBlockDelayMs = 1;
    AppTestBed bed(o, kOneSecondWaits);
    for (int i = 0; i < 16; ++i)
        bed.fleet->Device(i).config.SetValue(QStringLiteral("80211a_ssid"),
                                             QStringLiteral("Floor %1").arg(i));
    discoverAll(bed, 16);
    const QByteArray data = "FW_VERSION=2.00.01u\n" + QByteArray(64 * 1024, 'x');
    const QString image = writeFile(QDir(bed.core->FirmwareDirectory()).filePath("ktr.bin"), data);

    UpgradeFirmware(*bed.core, image);
    SCOPED_TRACE(trace(bed));

    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(bed.status(i), QStringLiteral("OK")) << i;
        EXPECT_EQ(bed.fleet->Device(i).flashedFirmwareSha256, sha) << i;
        // Each device's own configuration landed in its own file.
        EXPECT_TRUE(readFile(bed.core->SavedFile(bed.rowOf(i)))
                        .contains(QStringLiteral("80211a_ssid =\"Floor %1\"").arg(i).toLatin1()))
            << i;
        EXPECT_EQ(bed.fleet->Device(i).config.Value(QStringLiteral("80211a_ssid")),
                  QStringLiteral("Floor %1").arg(i));
    }
    EXPECT_EQ(bed.queue().PeakHeldCount() > 1, bed.core->Settings().parallelTransfers > 1);
}
