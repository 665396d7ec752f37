// Option parsing and the ktr4200-sim program.

#include "TestHelpers.h"
#include "nimp/VxNIMPWire.h"
#include "sim/Ktr4200FleetOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <csignal>

namespace {

bool Parse(const QStringList& args, Ktr4200FleetOptions* options, QString* error = nullptr,
           QString* stateFile = nullptr)
{
    QString e;
    bool help = false;
    const bool ok = ParseFleetOptions(args, options, stateFile, &e, &help);
    if (error)
        *error = e;
    return ok;
}

} // namespace

TEST(SimOptions, ReadsEveryKindOfOption)
{
    Ktr4200FleetOptions o;
    QString stateFile;
    ASSERT_TRUE(Parse({"--devices", "10", "--bind=127.0.0.1", "--port", "0", "--base-mac", "02:1a:2b:00:00:10",
                       "--model-at", "3=KTR-4200AP", "--password", "pw", "--password-at", "2=other",
                       "--fw-version-at", "9=1.0e", "--tftp-port", "6969", "--reboot-time", "100",
                       "--drop-replies", "0.25", "--seed", "7", "--silent", "1,4-6", "--not-done", "all",
                       "--state-file", "/tmp/x.json"},
                      &o, nullptr, &stateFile));
    EXPECT_EQ(o.deviceCount, 10);
    EXPECT_EQ(o.bindAddress, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.baseMac, QStringLiteral("021A2B000010"));
    EXPECT_EQ(o.modelAt.value(3), QStringLiteral("KTR-4200AP"));
    EXPECT_EQ(o.password, QStringLiteral("pw"));
    EXPECT_EQ(o.passwordAt.value(2), QStringLiteral("other"));
    EXPECT_EQ(o.versionAt.value(9), QStringLiteral("1.0e"));
    EXPECT_EQ(o.tftpPort, 6969);
    EXPECT_EQ(o.rebootMs, 100);
    EXPECT_DOUBLE_EQ(o.dropReplies, 0.25);
    EXPECT_EQ(o.seed, 7u);
    EXPECT_EQ(o.silent, (QSet<int>{1, 4, 5, 6}));
    EXPECT_EQ(o.notDone.size(), 10);
    EXPECT_EQ(stateFile, QStringLiteral("/tmp/x.json"));
}

TEST(SimOptions, RefusesBadValuesWithAMessage)
{
    const QList<QStringList> bad = {
        {"--devices", "0"},           {"--port", "70000"},         {"--drop-requests", "1.5"},
        {"--base-mac", "0011223344"}, {"--base-ip", "10.0.0.256"}, {"--silent", "3", "--devices", "3"},
        {"--silent", "2-1"},          {"--model-at", "x=KTR"},     {"--frobnicate"},
        {"--tftp-port"},
    };
    for (const auto& args : bad) {
        Ktr4200FleetOptions o;
        QString error;
        EXPECT_FALSE(Parse(args, &o, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(SimProgram, HelpDocumentsTheOptions)
{
    QProcess p;
    p.start(QStringLiteral(KTR4200_SIM_PROGRAM), {QStringLiteral("--help")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString help = QString::fromLatin1(p.readAllStandardOutput());
    for (const char* option : {"--devices", "--tftp-port", "--drop-requests", "--tftp-fail", "--state-file", "SIGUSR1"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;

    QProcess bad;
    bad.start(QStringLiteral(KTR4200_SIM_PROGRAM), {QStringLiteral("--devices"), QStringLiteral("x")});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
}

TEST(SimProgram, RunsUntilTerminatedAndWritesItsState)
{
    QTemporaryDir dir;
    const QString stateFile = dir.filePath(QStringLiteral("state.json"));
    QProcess p;
    p.start(QStringLiteral(KTR4200_SIM_PROGRAM),
            {"--bind", "127.0.0.1", "--port", "0", "--devices", "4", "--state-file", stateFile});
    ASSERT_TRUE(p.waitForStarted(5000));
    // The program names its port on standard error once it listens.
    QRegularExpressionMatch match;
    QString stderrText;
    const bool listening = WaitUntil([&] {
        stderrText += QString::fromLatin1(p.readAllStandardError());
        match = QRegularExpression(QStringLiteral("on 127\\.0\\.0\\.1:(\\d+)")).match(stderrText);
        return match.hasMatch();
    }, 5000);
    ASSERT_TRUE(listening);
    const quint16 port = quint16(match.captured(1).toUInt());

    QUdpSocket console;
    ASSERT_TRUE(console.bind(QHostAddress::LocalHost, 0));
    console.writeDatagram(NimpBuildDatagram(NIMP_CMD_DISCOVER, 1, 0, NimpBroadcastMac, {}, {}),
                          QHostAddress::LocalHost, port);
    int replies = 0;
    WaitUntil([&] {
        while (console.hasPendingDatagrams()) {
            console.receiveDatagram();
            ++replies;
        }
        return replies == 4;
    }, 3000);
    EXPECT_EQ(replies, 4);

    // SIGUSR1 writes the state and the program goes on.
    ::kill(pid_t(p.processId()), SIGUSR1);
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(stateFile); }, 3000));
    EXPECT_EQ(p.state(), QProcess::Running);

    ::kill(pid_t(p.processId()), SIGTERM);
    const bool ended = WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 5000);
    if (!ended)
        p.kill();
    ASSERT_TRUE(ended);
    EXPECT_EQ(p.exitCode(), 0);
    QFile file(stateFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto devices = QJsonDocument::fromJson(file.readAll()).object()[QStringLiteral("devices")].toArray();
    ASSERT_EQ(devices.size(), 4);
    EXPECT_EQ(devices[3].toObject()[QStringLiteral("counters")].toObject()[QStringLiteral("discover")].toInt(), 1);
}
