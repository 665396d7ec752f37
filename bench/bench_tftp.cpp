// TFTP throughput: the largest file the block numbers carry to one client, and 4 MiB to
// twenty clients at once, from our server and, when installed, from tftpd-hpa on another
// loopback port with the same client. Everything stays on 127.0.0.1.
//
// usage: bench_tftp [--client curl|tftp] [--repeat N]

#include "common/Wait.h"
#include "tftp/VxTFTPServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kLargest = 65534LL * 512 + 511;
constexpr qint64 kSmall = 4 * 1024 * 1024;
constexpr int kClients = 20;
constexpr int kClientLimitMs = 600000;

struct Result
{
    bool ok = false;
    double seconds = 0;
    qint64 bytes = 0;
    double mbps() const { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }
};

QByteArray MakeContent(qint64 size, int seed)
{
    QByteArray b(int(size), Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[int(i)] = char(x);
    }
    return b;
}

quint16 FreePort()
{
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

// Runs `clients` copies of the client against port at once; the wall time runs from the
// first start to the last exit. Every copy must end with the exact content.
Result Fetch(const QString& client, quint16 port, const QString& name, const QByteArray& content, int clients,
             const QString& outDir)
{
    std::vector<std::unique_ptr<QProcess>> procs;
    const int64_t t0 = TickCount();
    for (int i = 0; i < clients; ++i) {
        const QString out = QDir(outDir).filePath(QStringLiteral("out%1.bin").arg(i));
        QFile::remove(out);
        auto p = std::make_unique<QProcess>();
        p->setStandardOutputFile(QProcess::nullDevice());
        if (client.endsWith(QLatin1String("curl"))) {
            p->start(client, {"-s", "-S", "--tftp-no-options", "-o", out,
                              QStringLiteral("tftp://127.0.0.1:%1/%2").arg(port).arg(name)});
        } else {
            p->start(client, {"127.0.0.1", QString::number(port), "-m", "binary", "-c", "get", name, out});
        }
        procs.push_back(std::move(p));
    }
    auto done = [&] {
        for (auto& p : procs)
            if (p->state() != QProcess::NotRunning)
                return false;
        return true;
    };
    // Sleeps in the event loop (which serves the transfers) until the last client exits.
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (auto& p : procs)
        QObject::connect(p.get(), &QProcess::finished, &loop, [&] {
            if (done())
                loop.quit();
        });
    limit.start(kClientLimitMs);
    if (!done())
        loop.exec();
    Result r;
    r.seconds = double(TickCount() - t0) / 1000.0;
    r.ok = true;
    for (int i = 0; i < clients; ++i) {
        QProcess& p = *procs[size_t(i)];
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(2000);
            r.ok = false;
            continue;
        }
        QFile f(QDir(outDir).filePath(QStringLiteral("out%1.bin").arg(i)));
        if (p.exitCode() != 0 || !f.open(QIODevice::ReadOnly) || f.readAll() != content)
            r.ok = false;
        else
            r.bytes += content.size();
    }
    return r;
}

void Print(const char* what, const char* server, const Result& r)
{
    std::printf("%-28s %-10s %s %8.3f s %8.2f MB/s\n", what, server, r.ok ? "ok    " : "FAILED", r.seconds, r.mbps());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString client = QStandardPaths::findExecutable(QStringLiteral("curl"));
    int repeat = 1;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--client"))
            client = QStandardPaths::findExecutable(args[i + 1]);
        else if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[i + 1].toInt());
    }
    if (client.isEmpty()) {
        std::fputs("bench_tftp: no TFTP client (curl or tftp) found\n", stderr);
        return 1;
    }

    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(root);
    QDir().mkpath(out);
    // tftpd-hpa drops to its own user: the files must be readable by others.
    const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                          | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readable);
    QFile::setPermissions(root, readable);
    const QByteArray large = MakeContent(kLargest, 1);
    const QByteArray small = MakeContent(kSmall, 2);
    for (const auto& [name, content] : {std::pair{"large.bin", &large}, std::pair{"small.bin", &small}}) {
        QFile f(QDir(root).filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(*content);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }

    VxTFTPServer server;
    server.SetTimeouts(500, 3);
    server.SetCallback([](void*, const VxTFTPMsg&, bool*) {}, nullptr);
    server.Start(root, FreePort(), QHostAddress::LocalHost);

    std::unique_ptr<QProcess> reference;
    quint16 referencePort = 0;
    const QString inTftpd = QStandardPaths::findExecutable(QStringLiteral("in.tftpd"),
                                                           {"/usr/sbin", "/sbin", "/usr/local/sbin"});
    if (!inTftpd.isEmpty()) {
        referencePort = FreePort();
        reference = std::make_unique<QProcess>();
        reference->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reference->start(inTftpd, {"-L", "-s", root, "-a", QStringLiteral("127.0.0.1:%1").arg(referencePort)});
        if (!reference->waitForStarted(5000)) {
            reference.reset();
        } else {
            WaitMilliseconds(500);
        }
    }

    std::printf("client: %s; %lld bytes to 1 client, %lld bytes to %d clients at once; best of %d\n",
                qPrintable(client), kLargest, kSmall, kClients, repeat);
    auto best = [&](quint16 port, const QString& name, const QByteArray& content, int clients) {
        Result b;
        for (int i = 0; i < repeat; ++i) {
            const Result r = Fetch(client, port, name, content, clients, out);
            if (i == 0 || (r.ok && (!b.ok || r.seconds < b.seconds)))
                b = r;
        }
        return b;
    };
    const Result oursOne = best(server.Port(), "large.bin", large, 1);
    Print("1 client x 33553919 B", "nodewarden", oursOne);
    Result refOne, refMany;
    if (reference) {
        refOne = best(referencePort, "large.bin", large, 1);
        Print("1 client x 33553919 B", "tftpd-hpa", refOne);
    }
    const Result oursMany = best(server.Port(), "small.bin", small, kClients);
    Print("20 clients x 4 MiB", "nodewarden", oursMany);
    if (reference) {
        refMany = best(referencePort, "small.bin", small, kClients);
        Print("20 clients x 4 MiB", "tftpd-hpa", refMany);
    }

    if (reference) {
        reference->terminate();
        if (!reference->waitForFinished(3000)) {
            reference->kill();
            reference->waitForFinished(3000);
        }
    }
    server.Stop();
    if (reference && refOne.ok && refMany.ok && oursOne.ok && oursMany.ok) {
        std::printf("speed ratio nodewarden/tftpd-hpa: 1 client %.2f, 20 clients %.2f\n",
                    oursOne.mbps() / refOne.mbps(), oursMany.mbps() / refMany.mbps());
    } else if (!reference) {
        std::printf("tftpd-hpa (in.tftpd) not installed: no comparison\n");
    }
    return oursOne.ok && oursMany.ok ? 0 : 1;
}
