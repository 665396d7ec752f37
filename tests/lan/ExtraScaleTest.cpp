// A firmware upgrade of a fleet of 50 with faults everywhere: a tenth of the datagrams lost
// each way, two devices that stop answering after Discover and one whose password is
// wrong. The simulated devices' state is the truth every row is checked against.
#include "AppTestBed.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <gtest/gtest.h>

TEST(ExtraScale, UpgradeOfFiftyWithLossDeadDevicesAndAWrongPasswordEndsEveryRowRight)
{
    constexpr int kDevices = 50;
    const QSet<int> dead = {7, 31};
    constexpr int kWrongPassword = 18;

    Ktr4200FleetOptions o;
    o.deviceCount = kDevices;
    o.baseIp = QStringLiteral("10.0.1.1");
    o.flashMs = 100;
    o.rebootMs = 200;
    o.factoryResetMs = 200;
    o.dropRequests = 0.1;
    o.dropReplies = 0.1;
    o.seed = 9;
    o.silent = dead;
    o.badPassword = {kWrongPassword};
    // Each Discover pass sends five requests, so every device is listed despite the loss.
    AppTestBed bed(o, {{QStringLiteral("DiscoveryTimeout"), QStringLiteral("6")},
                       {QStringLiteral("DiscoveryRetry"), QStringLiteral("5")},
                       // The waits after a reset outlast the reset's own retry (1 s),
                       // and the tolerance lets a repeated request finish before the queue's
                       // time-out, as the lists expect of real settings.
                       {QStringLiteral("TimingTolerance"), QStringLiteral("2")},
                       {QStringLiteral("RebootTime"), QStringLiteral("2")},
                       {QStringLiteral("ConfigDownloadTime"), QStringLiteral("2")},
                       {QStringLiteral("ConfigUploadTime"), QStringLiteral("2")},
                       {QStringLiteral("ConfigFlashUpdateTime"), QStringLiteral("1")},
                       {QStringLiteral("FactoryResetTime"), QStringLiteral("2")},
                       {QStringLiteral("FWDownloadTime"), QStringLiteral("2")},
                       {QStringLiteral("FWFlashUpdateTime"), QStringLiteral("1")}});
    ASSERT_TRUE(bed.started);
    QList<QStringList> before;
    for (int i = 0; i < kDevices; ++i) {
        bed.fleet->Device(i).config.SetValue(QStringLiteral("80211a_ssid"),
                                             QStringLiteral("Room %1").arg(i));
        before.append(bed.fleet->Device(i).config.RenderLines());
    }
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), kDevices);
    bed.devices().SelectAll();

    const QString image = QDir(bed.core->FirmwareDirectory()).filePath(QStringLiteral("ktr.bin"));
    QDir().mkpath(QFileInfo(image).absolutePath());
    {
        QFile f(image);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("FW_VERSION=2.00.01u\n" + QByteArray(6000, 'x'));
    }
    UpgradeFirmware(*bed.core, image);
    const std::string log = bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString();
    if (qEnvironmentVariableIsSet("NW_SCALE_LOG")) {
        QFile out(qEnvironmentVariable("NW_SCALE_LOG"));
        if (out.open(QIODevice::WriteOnly))
            out.write(QByteArray::fromStdString(log));
    }

    int ok = 0;
    int failed = 0;
    for (int i = 0; i < kDevices; ++i) {
        SCOPED_TRACE(i);
        const SimDevice& d = bed.fleet->Device(i);
        const QString status = bed.status(i);
        ASSERT_FALSE(status.isEmpty());
        if (dead.contains(i)) {
            EXPECT_NE(status, QStringLiteral("OK"));
            EXPECT_EQ(d.version, QStringLiteral("1.02.07u"));
            EXPECT_EQ(d.counters.factoryReset, 0);
            EXPECT_EQ(d.config.RenderLines(), before.at(i));
        } else if (i == kWrongPassword) {
            EXPECT_EQ(status, QStringLiteral("Password Error!"));
            EXPECT_EQ(d.version, QStringLiteral("1.02.07u"));
            EXPECT_EQ(d.config.RenderLines(), before.at(i));
        } else if (status == QStringLiteral("OK")) {
            ++ok;
            // "OK" means the new firmware runs with the device's own settings back.
            EXPECT_EQ(d.version, QStringLiteral("2.00.01u"));
            EXPECT_EQ(d.config.RenderLines(), before.at(i));
        } else {
            // A healthy device the loss defeated: its row says why, and the device is
            // left either on its old firmware or on the new one (a lost reply late in the
            // sequence), never without firmware or in the middle of a transfer.
            ++failed;
            std::printf("device %d: \"%s\" after %s; device on %s, own settings %s\n", i,
                        qPrintable(status), qPrintable(bed.devices().GetAction(bed.rowOf(i))),
                        qPrintable(d.version),
                        d.config.RenderLines() == before.at(i) ? "back" : "not back");
            EXPECT_TRUE(status.endsWith(QLatin1Char('!')) || status.startsWith(QLatin1Char('-')))
                << status.toStdString();
            EXPECT_FALSE(d.flashPending);
            // The step the row names agrees with what the device went through: before the
            // image was flashed it runs the old firmware, every later step runs only on a
            // device that took the image, and a device never factory reset keeps its own
            // settings.
            const QString action = bed.devices().GetAction(bed.rowOf(i));
            if (action == QStringLiteral("Update F/W:1") ||
                (action == QStringLiteral("Read Config") && d.counters.factoryReset == 0)) {
                EXPECT_EQ(d.version, QStringLiteral("1.02.07u")) << action.toStdString();
            } else if (action != QStringLiteral("Update F/W:2")) {
                EXPECT_EQ(d.version, QStringLiteral("2.00.01u")) << action.toStdString();
            }
            if (d.counters.factoryReset == 0) {
                EXPECT_EQ(d.config.RenderLines(), before.at(i));
            }
        }
    }
    std::printf("upgrade of %d devices with loss: %d OK, %d failed by the loss\n", kDevices, ok,
                failed);
    EXPECT_GT(ok, 0) << log;
    EXPECT_EQ(bed.queue().Count(), 0);
    EXPECT_FALSE(bed.ui.showing);
}
