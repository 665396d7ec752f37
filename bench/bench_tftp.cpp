// TFTP throughput of the stand-alone server (`nodewarden tftpd`, a process of its own as an
// administrator runs it) against tftpd-hpa in the same run, on two loopback ports, with the
// same clients: plain RFC 1350 blocks, the blksize option, and blksize with windowsize.
// Each case fetches a 32 MiB file to one client and a 4 MiB file to twenty clients at once.
// Everything stays on 127.0.0.1, off port 69.
//
// usage: bench_tftp [--repeat N] [--nodewarden PATH] [--only TEXT]   (cases whose name holds TEXT)
//
// curl fetches the plain and blksize cases; no installed client asks for a window, so the
// windowsize case uses the simulated devices' TFTP client, in this process, for both
// servers (tftpd-hpa does not take the option and answers with windows of one).

#include "common/Wait.h"
#include "sim/SimTftpClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr qint64 kLarge = 32 * 1024 * 1024;
constexpr qint64 kSmall = 4 * 1024 * 1024;
constexpr int kClients = 20;
constexpr int kClientLimitMs = 600000;
constexpr int kBlockSize = 1468;
constexpr int kWindow = 16;

struct Result
{
    bool ok = false;
    double seconds = 0;
    qint64 bytes = 0;
    double mbps() const { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }
};

// How a case fetches: curl with these arguments, or the in-process client with options.
struct Client
{
    QString label;
    QStringList curlArgs; // empty: the in-process client
    int blockSize = 0;
    int window = 0;
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

// Sleeps in the event loop until done() holds or the limit passes; wake(loop) connects
// whatever may make done() hold to the loop's quit.
void WaitFor(const std::function<bool()>& done, const std::function<void(QEventLoop&)>& wake)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake(loop);
    limit.start(kClientLimitMs);
    while (!done() && limit.isActive())
        loop.exec();
}

// `clients` copies of curl at once; the wall time runs from the first start to the last
// exit. Every copy must end with the exact content.
Result FetchWithCurl(const QString& curl, const QStringList& args, quint16 port,
                     const QString& name, const QByteArray& content, int clients,
                     const QString& outDir)
{
    std::vector<std::unique_ptr<QProcess>> procs;
    const int64_t t0 = TickCount();
    for (int i = 0; i < clients; ++i) {
        const QString out = QDir(outDir).filePath(QStringLiteral("out%1.bin").arg(i));
        QFile::remove(out);
        auto p = std::make_unique<QProcess>();
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(curl,
                 QStringList{"-s", "-S"} + args +
                     QStringList{"-o", out,
                                 QStringLiteral("tftp://127.0.0.1:%1/%2").arg(port).arg(name)});
        procs.push_back(std::move(p));
    }
    WaitFor(
        [&] {
            for (auto& p : procs)
                if (p->state() != QProcess::NotRunning)
                    return false;
            return true;
        },
        [&](QEventLoop& loop) {
            for (auto& p : procs)
                QObject::connect(p.get(), &QProcess::finished, &loop, &QEventLoop::quit);
        });
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

// `clients` transfers of the in-process client at once.
Result FetchInProcess(const Client& client, quint16 port, const QString& name,
                      const QByteArray& content, int clients)
{
    int finished = 0;
    Result r;
    r.ok = true;
    QObject owner;
    QEventLoop* waiting = nullptr;
    const int64_t t0 = TickCount();
    for (int i = 0; i < clients; ++i) {
        SimTftpClient::Params params;
        params.server = QHostAddress::LocalHost;
        params.serverPort = port;
        params.fileName = name;
        params.localAddress = QHostAddress::LocalHost;
        params.timeoutMs = 1000;
        params.retries = 5;
        params.maxFetchSize = content.size();
        params.blockSize = client.blockSize;
        params.windowSize = client.window;
        auto* c = new SimTftpClient(
            SimTftpClient::Direction::Fetch, params, QByteArray(),
            [&](bool ok, const QByteArray& data, const QString&) {
                if (ok && data == content)
                    r.bytes += data.size();
                else
                    r.ok = false;
                if (++finished == clients && waiting)
                    waiting->quit();
            },
            &owner);
        c->Start();
    }
    WaitFor([&] { return finished == clients; }, [&](QEventLoop& loop) { waiting = &loop; });
    r.seconds = double(TickCount() - t0) / 1000.0;
    r.ok = r.ok && finished == clients;
    return r;
}

void Print(const QString& what, const char* server, const Result& r)
{
    std::printf("%-44s %-10s %s %8.3f s %8.2f MB/s\n", qPrintable(what), server,
                r.ok ? "ok    " : "FAILED", r.seconds, r.mbps());
    std::fflush(stdout);
}

void StopProcess(QProcess& p)
{
    p.terminate();
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int repeat = 1;
    QString only;
#ifdef NODEWARDEN_BIN
    QString nodewarden = QStringLiteral(NODEWARDEN_BIN);
#else
    QString nodewarden;
#endif
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--repeat"))
            repeat = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--nodewarden"))
            nodewarden = args[i + 1];
        else if (args[i] == QLatin1String("--only"))
            only = args[i + 1];
    }
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    const QString inTftpd = QStandardPaths::findExecutable(
        QStringLiteral("in.tftpd"), {"/usr/sbin", "/sbin", "/usr/local/sbin"});
    if (curl.isEmpty() || nodewarden.isEmpty() || !QFile::exists(nodewarden)) {
        std::fputs("bench_tftp: needs curl and the nodewarden program (--nodewarden PATH)\n",
                   stderr);
        return 1;
    }

    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(root);
    QDir().mkpath(out);
    // tftpd-hpa drops to its own user: the files must be readable by others.
    const auto readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(dir.path(), readable);
    QFile::setPermissions(root, readable);
    const QByteArray large = MakeContent(kLarge, 1);
    const QByteArray small = MakeContent(kSmall, 2);
    for (const auto& [name, content] :
         {std::pair{"large.bin", &large}, std::pair{"small.bin", &small}}) {
        QFile f(QDir(root).filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(*content);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                         QFile::ReadOther);
    }

    // Ours as an administrator runs it: the default log (a line per transfer), no --verbose.
    const quint16 oursPort = FreePort();
    QProcess ours;
    ours.setStandardOutputFile(dir.filePath(QStringLiteral("nodewarden-tftpd.log")));
    ours.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ours.start(nodewarden, {"tftpd", "--root", root, "--port", QString::number(oursPort),
                            "--address", "127.0.0.1"});
    if (!ours.waitForStarted(5000)) {
        std::fputs("bench_tftp: nodewarden tftpd did not start\n", stderr);
        return 1;
    }
    std::unique_ptr<QProcess> reference;
    quint16 referencePort = 0;
    if (!inTftpd.isEmpty()) {
        referencePort = FreePort();
        reference = std::make_unique<QProcess>();
        reference->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        reference->start(
            inTftpd, {"-L", "-s", root, "-a", QStringLiteral("127.0.0.1:%1").arg(referencePort)});
        if (!reference->waitForStarted(5000))
            reference.reset();
    }
    WaitMilliseconds(500);

    const std::vector<Client> clients = {
        {QStringLiteral("plain"), {"--tftp-no-options"}},
        {QStringLiteral("blksize %1").arg(kBlockSize),
         {"--tftp-blksize", QString::number(kBlockSize)}},
        {QStringLiteral("blksize %1 windowsize %2").arg(kBlockSize).arg(kWindow),
         {},
         kBlockSize,
         kWindow},
    };
    std::printf("%lld bytes to 1 client, %lld bytes to %d clients at once; best of %d\n", kLarge,
                kSmall, kClients, repeat);
    bool allOk = true;
    double lowest = 0;
    int compared = 0;
    double lowestMedian = 0;
    for (const Client& client : clients) {
        for (const auto& [file, content, count] :
             {std::tuple{"large.bin", &large, 1}, std::tuple{"small.bin", &small, kClients}}) {
            auto once = [&](quint16 port) {
                return client.curlArgs.isEmpty()
                           ? FetchInProcess(client, port, QString::fromLatin1(file), *content,
                                            count)
                           : FetchWithCurl(curl, client.curlArgs, port, QString::fromLatin1(file),
                                           *content, count, out);
            };
            auto keepBest = [](Result& b, const Result& r, int i) {
                if (i == 0 || (r.ok && (!b.ok || r.seconds < b.seconds)))
                    b = r;
            };
            const QString what = QStringLiteral("%1, %2 x %3 MiB")
                                     .arg(client.label)
                                     .arg(count)
                                     .arg(content->size() / (1024 * 1024));
            if (!what.contains(only))
                continue;
            // Turn about, so that a change in the machine's load meets both servers alike.
            // Each round's two runs, next to each other in time, also make a ratio of their
            // own: their median is less at the mercy of one lucky run than the best of each.
            Result mine, theirs;
            std::vector<double> pairs;
            for (int i = 0; i < repeat; ++i) {
                const Result a = once(oursPort);
                keepBest(mine, a, i);
                if (reference) {
                    const Result b = once(referencePort);
                    keepBest(theirs, b, i);
                    if (a.ok && b.ok)
                        pairs.push_back(a.mbps() / b.mbps());
                }
            }
            Print(what, "nodewarden", mine);
            allOk = allOk && mine.ok;
            if (reference) {
                Print(what, "tftpd-hpa", theirs);
                if (mine.ok && theirs.ok) {
                    const double ratio = mine.mbps() / theirs.mbps();
                    std::sort(pairs.begin(), pairs.end());
                    const double median =
                        pairs.empty() ? 0
                        : pairs.size() % 2
                            ? pairs[pairs.size() / 2]
                            : (pairs[pairs.size() / 2 - 1] + pairs[pairs.size() / 2]) / 2;
                    std::printf("%-44s ratio %.2f (best of each); rounds: median %.2f, %.2f to "
                                "%.2f\n",
                                qPrintable(what), ratio, median, pairs.empty() ? 0 : pairs.front(),
                                pairs.empty() ? 0 : pairs.back());
                    lowest = compared == 0 ? ratio : std::min(lowest, ratio);
                    lowestMedian = compared == 0 ? median : std::min(lowestMedian, median);
                    ++compared;
                }
            }
        }
    }

    StopProcess(ours);
    if (reference)
        StopProcess(*reference);
    const qint64 logBytes = QFile(dir.filePath(QStringLiteral("nodewarden-tftpd.log"))).size();
    std::printf("nodewarden tftpd log: %lld bytes\n", logBytes);
    if (compared > 0)
        std::printf("lowest speed ratio nodewarden/tftpd-hpa over %d cases: %.2f (best of "
                    "each), %.2f (median of the rounds)\n",
                    compared, lowest, lowestMedian);
    else
        std::printf("tftpd-hpa (in.tftpd) not installed: no comparison\n");
    return allOk ? 0 : 1;
}
