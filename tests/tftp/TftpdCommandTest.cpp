// The stand-alone server as an administrator runs it, fetched from and written to by the
// TFTP clients of the distribution.

#include "TftpTestPeer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QRegularExpression>

#include <csignal>
#include <unistd.h>

#include <gtest/gtest.h>

#ifdef NODEWARDEN_BIN

namespace {

// A loopback port that is free right now.
quint16 FreePort()
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

class TftpdCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        root = dir.filePath(QStringLiteral("root"));
        QDir().mkpath(root);
    }
    void TearDown() override
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
    // Starts the server on a free port and waits for its first line.
    bool StartServer()
    {
        port = FreePort();
        server.setProgram(QStringLiteral(NODEWARDEN_BIN));
        server.setArguments({"tftpd", "--root", root, "--port", QString::number(port), "--address", "127.0.0.1"});
        // To a file: a pipe nobody reads while a client runs would fill up and block the server.
        server.setStandardOutputFile(dir.filePath("server.log"));
        server.start();
        return server.waitForStarted(5000)
               && WaitUntil([&] { return !Output().isEmpty() || server.state() == QProcess::NotRunning; }, 5000)
               && server.state() == QProcess::Running;
    }
    // Runs a client to its end (bounded) and returns its exit code.
    int RunClient(const QString& program, const QStringList& args)
    {
        QProcess client;
        client.setWorkingDirectory(dir.path());
        client.start(program, args);
        if (!client.waitForFinished(30000)) {
            client.kill();
            client.waitForFinished(2000);
            return -1;
        }
        const int rc = client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
        if (rc != 0)
            std::fprintf(stderr, "%s: %s\n", qPrintable(program), client.readAllStandardError().constData());
        return rc;
    }
    QString Output() const { return QString::fromLocal8Bit(ReadFile(dir.filePath("server.log"))); }
    QString Url(const QString& name) const
    {
        return QStringLiteral("tftp://127.0.0.1:%1/%2").arg(port).arg(name);
    }

    QTemporaryDir dir;
    QString root;
    QProcess server;
    quint16 port = 0;
};

TEST_F(TftpdCommandTest, RealClientsGetAndPutFilesByteExact)
{
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    const QString tftp = QStandardPaths::findExecutable(QStringLiteral("tftp"));
    if (curl.isEmpty() && tftp.isEmpty())
        GTEST_SKIP() << "neither curl nor tftp is installed (scripts/install-deps.sh installs them)";
    // A multiple of 512 (ends with an empty block) and an odd size of many blocks.
    const QByteArray even = Pattern(512 * 40, 1);
    const QByteArray odd = Pattern(300001, 2);
    WriteFile(QDir(root).filePath("even.bin"), even);
    WriteFile(QDir(root).filePath("odd.bin"), odd);
    WriteFile(dir.filePath("upload.bin"), odd);
    ASSERT_TRUE(StartServer());

    if (!curl.isEmpty()) {
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "-o", "c_even.bin", Url("even.bin")}), 0);
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "--tftp-no-options", "-o", "c_odd.bin", Url("odd.bin")}), 0);
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "-T", "upload.bin", Url("c_up.bin")}), 0);
        EXPECT_EQ(ReadFile(dir.filePath("c_even.bin")), even);
        EXPECT_EQ(ReadFile(dir.filePath("c_odd.bin")), odd);
        EXPECT_EQ(ReadFile(QDir(root).filePath("c_up.bin")), odd);
        // A missing file is an error for the client, not an empty download.
        EXPECT_NE(RunClient(curl, {"-s", "-o", "c_none.bin", Url("none.bin")}), 0);
    }
    if (!tftp.isEmpty()) {
        EXPECT_EQ(RunClient(tftp, {"127.0.0.1", QString::number(port), "-m", "binary", "-c", "get", "odd.bin", "t_odd.bin"}), 0);
        EXPECT_EQ(RunClient(tftp, {"127.0.0.1", QString::number(port), "-m", "binary", "-c", "put", "upload.bin", "t_up.bin"}), 0);
        EXPECT_EQ(ReadFile(dir.filePath("t_odd.bin")), odd);
        EXPECT_EQ(ReadFile(QDir(root).filePath("t_up.bin")), odd);
    }

    server.terminate(); // SIGTERM: a clean stop
    ASSERT_TRUE(server.waitForFinished(15000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    const QString out = Output();
    EXPECT_TRUE(out.contains(QStringLiteral("[Tftp] 127.0.0.1 Connected."))) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("/odd.bin put to AP[127.0.0.1](300001 bytes transferred).")));
    EXPECT_TRUE(out.contains(QStringLiteral("/t_up.bin get from AP[127.0.0.1](300001 bytes transferred).")) || tftp.isEmpty());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\n\\d\\d:\\d\\d \\d\\d'\\d\\d\\d \\[Tftp\\] Retry=1,512 bytes\\.\\n"))
                    .match(out).hasMatch());
}

TEST_F(TftpdCommandTest, InterruptStopsCleanlyAndATakenPortIsReportedWithNonZeroExit)
{
    ASSERT_TRUE(StartServer());
    // The port is now taken by the first server.
    QProcess second;
    second.start(QStringLiteral(NODEWARDEN_BIN),
                 {"tftpd", "--root", root, "--port", QString::number(port), "--address", "127.0.0.1"});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_NE(second.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("already in use"))) << qPrintable(err);
    EXPECT_TRUE(err.contains(QString::number(port)));

    ::kill(pid_t(server.processId()), SIGINT);
    ASSERT_TRUE(server.waitForFinished(15000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);

    QProcess bad;
    bad.start(QStringLiteral(NODEWARDEN_BIN), {"tftpd", "--root", dir.filePath("missing")});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_NE(bad.exitCode(), 0);
}

TEST_F(TftpdCommandTest, PrivilegedPortWithoutTheCapabilitySaysWhatIsNeeded)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the server as an unprivileged user";
    // A copy the unprivileged user can reach, started without any capability.
    const QString copy = dir.filePath(QStringLiteral("nodewarden"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(NODEWARDEN_BIN), copy));
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                      | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), open);
    QFile::setPermissions(root, open);
    QFile::setPermissions(copy, open);
    QProcess p;
    p.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all", copy, "tftpd",
                      "--root", root, "--address", "127.0.0.1"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_NE(p.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("UDP port 69"))) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("CAP_NET_BIND_SERVICE"))) << qPrintable(err);
}

} // namespace

#endif
