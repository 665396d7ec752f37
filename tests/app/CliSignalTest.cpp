// The command line run as an administrator runs it, against a simulated fleet in this process.
#include "AppTestBed.h"
#include "app/BatchOperations.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#ifdef NODEWARDEN_BIN

namespace {

QString readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

TEST(CliUpgrade, SigtermAfterTheFactoryResetAbortsPrintsTheRowsAndGuardsTheRerun)
{
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.factoryResetMs = 2000; // time to signal while the devices reboot from it
    AppTestBed bed(o, {{QStringLiteral("FactoryResetTime"), QStringLiteral("3")}});
    ASSERT_TRUE(bed.started);
    const QString image = QDir(bed.dir.path()).filePath(QStringLiteral("ktr.bin"));
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("FW_VERSION=2.00.01u\n" + QByteArray(3000, 'x'));
    f.close();

    QProcess nw;
    nw.setProgram(QStringLiteral(NODEWARDEN_BIN));
    nw.setArguments({"--home", bed.dir.path(), "upgrade", "--all", "--firmware", image});
    nw.setStandardOutputFile(QDir(bed.dir.path()).filePath("out.txt"));
    nw.setStandardErrorFile(QDir(bed.dir.path()).filePath("err.txt"));
    nw.start();
    ASSERT_TRUE(nw.waitForStarted(5000));
    const bool allReset = WaitUntil(
        [&] {
            for (int i = 0; i < 3; ++i)
                if (bed.fleet->Device(i).counters.factoryReset == 0)
                    return false;
            return true;
        },
        60000);
    ASSERT_TRUE(allReset) << readAll(QDir(bed.dir.path()).filePath("err.txt")).toStdString();
    nw.terminate(); // SIGTERM
    ASSERT_TRUE(WaitUntil([&] { return nw.state() == QProcess::NotRunning; }, 20000));
    const QString out = readAll(QDir(bed.dir.path()).filePath("out.txt"));
    const QString err = readAll(QDir(bed.dir.path()).filePath("err.txt"));
    // An orderly end: the rows, the saved configurations and the password they now have.
    EXPECT_EQ(nw.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(nw.exitCode(), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("terminated, aborting"))) << err.toStdString();
    for (int i = 0; i < 3; ++i) {
        const QString mac = bed.fleet->Device(i).MacText();
        EXPECT_TRUE(out.contains(QRegularExpression(mac + QStringLiteral(" .*Aborted!"))))
            << out.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("write-config --mac ") + mac)) << err.toStdString();
    }
    EXPECT_TRUE(out.contains(BatchText::FactoryPasswordNotice)) << out.toStdString();

    // The re-run, once the devices are back, is refused before anything reaches a device,
    // naming what to restore.
    WaitMilliseconds(2500);
    const int puts = bed.fleet->Device(0).counters.put;
    nw.setArguments({"--home", bed.dir.path(), "upgrade", "--all", "--firmware", image});
    nw.start();
    ASSERT_TRUE(nw.waitForStarted(5000));
    ASSERT_TRUE(WaitUntil([&] { return nw.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(nw.exitCode(), 1);
    const QString refused = readAll(QDir(bed.dir.path()).filePath("err.txt"));
    EXPECT_TRUE(refused.contains(QStringLiteral("--force"))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("write-config --mac ") + bed.fleet->Device(2).MacText()));
    EXPECT_EQ(bed.fleet->Device(0).counters.put, puts);
    EXPECT_EQ(bed.fleet->Device(0).counters.factoryReset, 1);
}

#endif
