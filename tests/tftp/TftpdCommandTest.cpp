// The stand-alone server as an administrator runs it, fetched from and written to by the
// TFTP clients of the distribution.

#include "TftpTestPeer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

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
    bool StartServer(const QStringList& extra = {})
    {
        port = FreePort();
        server.setProgram(QStringLiteral(NODEWARDEN_BIN));
        server.setArguments(QStringList{"tftpd", "--root", root, "--port", QString::number(port),
                                        "--address", "127.0.0.1"} +
                            extra);
        // To a file: a pipe nobody reads while a client runs would fill up and block the server.
        server.setStandardOutputFile(dir.filePath("server.log"));
        server.start();
        return server.waitForStarted(5000) &&
               WaitUntil(
                   [&] { return !Output().isEmpty() || server.state() == QProcess::NotRunning; },
                   5000) &&
               server.state() == QProcess::Running;
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
            std::fprintf(stderr, "%s: %s\n", qPrintable(program),
                         client.readAllStandardError().constData());
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
        GTEST_SKIP()
            << "neither curl nor tftp is installed (scripts/install-deps.sh installs them)";
    // A multiple of 512 (ends with an empty block) and an odd size of many blocks.
    const QByteArray even = Pattern(512 * 40, 1);
    const QByteArray odd = Pattern(300001, 2);
    WriteFile(QDir(root).filePath("even.bin"), even);
    WriteFile(QDir(root).filePath("odd.bin"), odd);
    WriteFile(dir.filePath("upload.bin"), odd);
    ASSERT_TRUE(StartServer({"--threads", "3"}));

    if (!curl.isEmpty()) {
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "-o", "c_even.bin", Url("even.bin")}), 0);
        EXPECT_EQ(
            RunClient(curl, {"-s", "-S", "--tftp-no-options", "-o", "c_odd.bin", Url("odd.bin")}),
            0);
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "-T", "upload.bin", Url("c_up.bin")}), 0);
        EXPECT_EQ(RunClient(curl, {"-s", "-S", "--tftp-blksize", "1468", "-o", "c_big.bin",
                                   Url("odd.bin")}),
                  0);
        EXPECT_EQ(ReadFile(dir.filePath("c_big.bin")), odd);
        EXPECT_EQ(ReadFile(dir.filePath("c_even.bin")), even);
        EXPECT_EQ(ReadFile(dir.filePath("c_odd.bin")), odd);
        EXPECT_EQ(ReadFile(QDir(root).filePath("c_up.bin")), odd);
        // A missing file is an error for the client, not an empty download.
        EXPECT_NE(RunClient(curl, {"-s", "-o", "c_none.bin", Url("none.bin")}), 0);

        // Clients at once, spread over the server's threads: every copy whole.
        std::vector<std::unique_ptr<QProcess>> clients;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(std::make_unique<QProcess>());
            clients.back()->setWorkingDirectory(dir.path());
            clients.back()->start(curl, {"-s", "-S", "-o", QStringLiteral("c_many%1.bin").arg(i),
                                         Url(i % 2 ? "odd.bin" : "even.bin")});
        }
        for (int i = 0; i < 8; ++i) {
            QProcess& client = *clients[size_t(i)];
            if (!client.waitForFinished(30000))
                client.kill();
            EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().constData();
            EXPECT_EQ(ReadFile(dir.filePath(QStringLiteral("c_many%1.bin").arg(i))),
                      i % 2 ? odd : even);
        }
    }
    if (!tftp.isEmpty()) {
        EXPECT_EQ(RunClient(tftp, {"127.0.0.1", QString::number(port), "-m", "binary", "-c", "get",
                                   "odd.bin", "t_odd.bin"}),
                  0);
        EXPECT_EQ(RunClient(tftp, {"127.0.0.1", QString::number(port), "-m", "binary", "-c", "put",
                                   "upload.bin", "t_up.bin"}),
                  0);
        EXPECT_EQ(ReadFile(dir.filePath("t_odd.bin")), odd);
        EXPECT_EQ(ReadFile(QDir(root).filePath("t_up.bin")), odd);
    }

    server.terminate(); // SIGTERM: a clean stop
    ASSERT_TRUE(server.waitForFinished(15000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    // One line when a transfer starts and one when it ends; none per block.
    const QString out = Output();
    const auto has = [&](const char* pattern) {
        return QRegularExpression(QString::fromLatin1(pattern)).match(out).hasMatch();
    };
    EXPECT_TRUE(has("\\n\\d\\d:\\d\\d \\d\\d'\\d\\d\\d \\[Tftp\\] Start: odd.bin to 127.0.0.1:\\d+ "
                    "\\(blksize 512, windowsize 1\\)\\n"))
        << qPrintable(out);
    EXPECT_TRUE(has("\\[Tftp\\] Done: odd.bin to 127.0.0.1:\\d+, 300001 bytes in \\d+\\.\\d\\d\\d "
                    "s, 0 blocks resent\\n"));
    EXPECT_TRUE(
        curl.isEmpty() ||
        has("\\[Tftp\\] Start: odd.bin to 127.0.0.1:\\d+ \\(blksize 1468, windowsize 1\\)"));
    EXPECT_TRUE(tftp.isEmpty() ||
                has("\\[Tftp\\] Done: t_up.bin from 127.0.0.1:\\d+, 300001 bytes in "));
    EXPECT_FALSE(out.contains(QStringLiteral("Retry=")));
    EXPECT_FALSE(out.contains(QStringLiteral("Connected.")));
}

TEST_F(TftpdCommandTest, TheStandAloneServerServesOnlyWhatItsOptionsAllow)
{
    WriteFile(QDir(root).filePath("ok.bin"), Pattern(3000));
    WriteFile(dir.filePath("secret.txt"), "SECRET");
    ASSERT_TRUE(QFile::link(dir.filePath("secret.txt"), QDir(root).filePath("link.txt")));
    // Four threads: the limits and the once-only lines hold for all of them together.
    ASSERT_TRUE(StartServer({"--allow", "127.0.0.1", "--read-only", "--max-sessions", "2",
                             "--verbose", "--threads", "4"}));

    // A peer outside the allowed networks, from several ports (which the kernel spreads
    // over the threads): refused every time, logged once.
    std::vector<std::unique_ptr<TftpTestPeer>> strangers;
    for (int i = 0; i < 6; ++i) {
        strangers.push_back(std::make_unique<TftpTestPeer>(QHostAddress("127.0.0.2")));
        strangers.back()->SendTo(port, TftpTestPeer::Request(1, "ok.bin"));
        EXPECT_EQ(strangers.back()->Receive().data, Bytes("00 05 00 01 00"));
    }
    TftpTestPeer peer;
    peer.SendTo(port, TftpTestPeer::Request(2, "new.bin")); // read-only
    EXPECT_EQ(peer.Receive().data, Bytes("00 05 00 02 00"));
    TftpTestPeer linkReader;
    linkReader.SendTo(port, TftpTestPeer::Request(1, "link.txt"));
    EXPECT_EQ(linkReader.Receive().data, Bytes("00 05 00 02 00"));
    TftpTestPeer hostile;
    hostile.SendTo(port, TftpTestPeer::Request(1, QByteArray("\x1b[2J\r\n12:00 00'000 forged")));
    EXPECT_EQ(hostile.Receive().data, Bytes("00 05 00 02 00"));

    // Two transfers at once at most, whichever threads they reach; the others get "busy".
    TftpTestPeer first, second;
    for (TftpTestPeer* client : {&first, &second}) {
        client->SendTo(port, TftpTestPeer::Request(1, "ok.bin"));
        EXPECT_EQ(client->Receive().block(), 1);
    }
    for (int i = 0; i < 6; ++i) {
        TftpTestPeer more;
        more.SendTo(port, TftpTestPeer::Request(1, "ok.bin"));
        EXPECT_EQ(more.Receive().data, Bytes("00 05 00 00 62 75 73 79 00"));
    }
    first.Send(TftpTestPeer::Ack(1));
    EXPECT_EQ(first.Receive().block(), 2);

    // --verbose prints every packet; this is the last line the test causes.
    ASSERT_TRUE(WaitUntil(
        [&] { return Output().contains(QStringLiteral("[Tftp] Retry=1,1024 bytes.")); }, 5000));
    const QByteArray raw = ReadFile(dir.filePath("server.log"));
    EXPECT_FALSE(raw.contains('\x1b'));
    EXPECT_FALSE(raw.contains('\r'));
    const QString out = QString::fromLocal8Bit(raw);
    EXPECT_EQ(out.count(QStringLiteral(
                  "[Tftp] Error:(VxTFTP) Request refused! 127.0.0.1/ok.bin Download to 127.0.0.2")),
              1)
        << qPrintable(out);
    EXPECT_EQ(out.count(QStringLiteral("Request refused! 127.0.0.1/new.bin Upload from 127.0.0.1")),
              1);
    EXPECT_TRUE(out.contains(QStringLiteral("[Tftp] Failed: link.txt to 127.0.0.1:")));
    EXPECT_TRUE(out.contains(
        QStringLiteral("[Tftp] Start: \\x1B[2J\\r\\n12:00 00'000 forged to 127.0.0.1:")));
    EXPECT_EQ(
        out.count(QStringLiteral(
            "[Tftp] Error:(VxTFTP) Too many sessions! 127.0.0.1/ok.bin Download to 127.0.0.1")),
        1);
    EXPECT_EQ(ReadFile(dir.filePath("secret.txt")), QByteArray("SECRET"));
    EXPECT_FALSE(QFileInfo::exists(QDir(root).filePath("new.bin")));
}

TEST_F(TftpdCommandTest, InterruptStopsCleanlyAndATakenPortIsReportedWithNonZeroExit)
{
    ASSERT_TRUE(StartServer());
    // The port is now taken by the first server.
    QProcess second;
    second.start(QStringLiteral(NODEWARDEN_BIN), {"tftpd", "--root", root, "--port",
                                                  QString::number(port), "--address", "127.0.0.1"});
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
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), open);
    QFile::setPermissions(root, open);
    QFile::setPermissions(copy, open);
    QProcess p;
    p.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all", copy,
                      "tftpd", "--root", root, "--address", "127.0.0.1"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_NE(p.exitCode(), 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("UDP port 69"))) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("CAP_NET_BIND_SERVICE"))) << qPrintable(err);
}

} // namespace

#endif
