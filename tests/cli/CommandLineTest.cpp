// The command line as an administrator runs it, against a simulated fleet on 127.0.0.1.
#include "LoopbackFleet.h"
#include "ProgramRun.h"
#include "TestHelpers.h"
#include "app/DataFolderLock.h"
#include "app/DeviceListExport.h"
#include "common/AddressCheck.h"
#include "config/UserConfigFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class CommandLine : public ::testing::Test
{
protected:
    void SetUp() override { Prepare({}); }

    // Short waits: the simulated devices flash and reboot in a fraction of a second.
    const QMap<QString, QString> kShortWaits = {
        {QStringLiteral("ConfigDownloadTime"), QStringLiteral("3")},
        {QStringLiteral("ConfigFlashUpdateTime"), QStringLiteral("2")},
        {QStringLiteral("RebootTime"), QStringLiteral("1")}};

    void Prepare(const QMap<QString, QString>& ini)
    {
        LoopbackFleet::WriteSystemIni(home.path(), loopback.SystemKeys(kShortWaits, ini));
        ASSERT_TRUE(loopback.started);
    }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The single-instance lock of a window lives here, apart from any other console.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.remove(QStringLiteral("NODEWARDEN_HOME"));
        return env;
    }

    ProgramRun Nodewarden(const QStringList& args)
    {
        return RunNodewarden(QStringList{QStringLiteral("--home"), home.path()} + args, 60000,
                             Environment());
    }

    QString WriteFile(const QString& name, const QByteArray& data)
    {
        const QString path = QDir(home.path()).filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
        return path;
    }

    SimDevice& Device() { return loopback.fleet->Device(0); }

    QTemporaryDir home;
    QTemporaryDir runtime;
    LoopbackFleet loopback{QuickFleetOptions(1)};
};

} // namespace

TEST_F(CommandLine, SetIpRefusesANetmaskOrAddressNoDeviceCanUseBeforeSendingAnything)
{
    ProgramRun run = Nodewarden({"set-ip", "--all", "--ip", "10.0.0.7", "--mask", "255.0.255.0"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(
        QString::fromLatin1(AddressCheckText::NotANetmask).arg(QStringLiteral("255.0.255.0"))))
        << qPrintable(run.err);
    run = Nodewarden({"set-ip", "--all", "--ip", "10.0.0.255", "--mask", "255.255.255.0"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(
        CheckAddressAndNetmask(QStringLiteral("10.0.0.255"), QStringLiteral("255.255.255.0"))))
        << qPrintable(run.err);
    EXPECT_EQ(loopback.fleet->DatagramsReceived(), 0);

    // A usable pair reaches the device, its numbers written plainly.
    run = Nodewarden({"set-ip", "--all", "--ip", "10.0.0.07", "--mask", "255.255.255.0"});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(Device().IpAddress(), QStringLiteral("10.0.0.7"));
}

TEST_F(CommandLine, AnInterfaceThatIsNotHereIsAUsageErrorNamingItAndNothingIsSent)
{
    ProgramRun run = Nodewarden({"--interface", "nw-absent0", "discover", "--json"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("\"nw-absent0\""))) << qPrintable(run.err);
    EXPECT_TRUE(run.out.isEmpty()) << qPrintable(run.out);

    Prepare({{QStringLiteral("NimpInterface"), QStringLiteral("nw-absent1")}});
    run = Nodewarden({"discover", "--json"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("\"nw-absent1\""))) << qPrintable(run.err);
    EXPECT_EQ(loopback.fleet->DatagramsReceived(), 0);

    // --interface stands for the setting in its run; with NimpAddress on loopback the requests
    // go there as they always did, and no row names an interface.
    QString loopbackName;
    for (const QNetworkInterface& ni : QNetworkInterface::allInterfaces())
        if (ni.flags().testFlag(QNetworkInterface::IsLoopBack) &&
            ni.flags().testFlag(QNetworkInterface::IsUp))
            loopbackName = ni.name();
    ASSERT_FALSE(loopbackName.isEmpty());
    run = Nodewarden({"--interface", loopbackName.toLatin1().constData(), "discover", "--json"});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.out.contains(Device().MacText())) << qPrintable(run.out);
    EXPECT_FALSE(run.out.contains(QString::fromLatin1(InterfaceJsonKey))) << qPrintable(run.out);
}

TEST_F(CommandLine, WriteConfigRefusesAFileItCannotSendAsWritten)
{
    const QString file =
        WriteFile(QStringLiteral("lobby"), "80211a_dtim =2\r\n80211a_ssid =\"a\x1b[2Jb\"\r\n");
    const ProgramRun run = Nodewarden({"write-config", "--all", "--file", file});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QString::fromLatin1(UserConfigText::ControlCharacter)
                                     .arg(file, QStringLiteral("2"), QStringLiteral("80211a_ssid"),
                                          QStringLiteral("\\x1B"))))
        << qPrintable(run.err);
    EXPECT_EQ(loopback.fleet->DatagramsReceived(), 0);
}

TEST_F(CommandLine, ASecondConsoleOnTheDataFolderIsRefusedAndToldWhoHoldsIt)
{
    const QString file = WriteFile(QStringLiteral("lobby"), "80211a_ssid =\"Lobby\"\r\n");
    DataFolderLock held(home.path());
    ASSERT_TRUE(held.TryLock(nullptr));
    ProgramRun run = Nodewarden({"write-config", "--all", "--file", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        run.err.contains(QStringLiteral("process %1 ").arg(QCoreApplication::applicationPid())))
        << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(QCoreApplication::applicationName())) << qPrintable(run.err);
    EXPECT_EQ(loopback.fleet->DatagramsReceived(), 0);

    held.Unlock();
    run = Nodewarden({"write-config", "--all", "--no-verify", "--no-reset", "--file", file});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(Device().config.Value(QStringLiteral("80211a_ssid")), QStringLiteral("Lobby"));
}

TEST_F(CommandLine, ADamagedStoredPasswordIsNamedAndTheProgramStillStarts)
{
    Prepare({{QStringLiteral("NimpWirelessAP"), QStringLiteral("DEADBEEF")}});
    const ProgramRun run = Nodewarden({"discover"});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(QLatin1String("Setting NimpWirelessAP cannot be read")))
        << qPrintable(run.err);
    EXPECT_TRUE(run.out.contains(Device().MacText())) << qPrintable(run.out);
}

TEST_F(CommandLine, TheWindowStartsOnAPlatformGivenWithoutADisplay)
{
    QProcess window;
    QProcessEnvironment env = Environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(NODEWARDEN_BIN), {QStringLiteral("--home"), home.path()});
    ASSERT_TRUE(window.waitForStarted(5000));
    // Up: it holds the one-console lock and has not ended.
    const QString instanceLock =
        QDir(runtime.path()).filePath(QStringLiteral("Varnix SkyRay Multiple Nodewarden .lock"));
    const bool up =
        WaitUntil(
            [&] { return QFile::exists(instanceLock) || window.state() == QProcess::NotRunning; },
            20000) &&
        window.state() == QProcess::Running &&
        !WaitUntil([&] { return window.state() == QProcess::NotRunning; }, 1000);
    const QString err = QString::fromLocal8Bit(window.readAllStandardError());
    window.kill();
    window.waitForFinished(5000);
    EXPECT_TRUE(up) << qPrintable(err);
}
