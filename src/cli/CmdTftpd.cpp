// nodewarden tftpd: the console's TFTP server on its own, to serve a folder by hand (for
// instance to recover a device), with a line on standard output when a transfer starts
// and one when it ends.

#include "cli/CliCommand.h"
#include "common/LogFormat.h"
#include "common/VxError.h"
#include "tftp/TftpLogLine.h"
#include "tftp/TftpServerGroup.h"
#include "tftp/VxTFTPServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QSemaphore>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "usage: nodewarden tftpd --root DIR [--port N] [--address A] [--allow ADDRESS[/BITS]]...\n"
    "                        [--read-only] [--max-sessions N] [--max-file-size BYTES] [--threads "
    "N]\n"
    "                        [--verbose]\n"
    "  --root DIR            the folder served; no file outside it, and no symbolic link, is "
    "opened\n"
    "  --port N              UDP port (default 69)\n"
    "  --address A           IPv4 address to listen on (default 0.0.0.0)\n"
    "  --allow ADDRESS[/BITS]  serve only peers in this network (repeatable; default: every peer)\n"
    "  --read-only           refuse every write\n"
    "  --max-sessions N      transfers at once (default 256; 8 from one address off loopback)\n"
    "  --max-file-size BYTES largest file read or written (default 0: no limit)\n"
    "  --threads N           threads serving transfers (default: one per core, at most 8)\n"
    "  --verbose             a line for every packet sent, besides the start and end of each "
    "transfer\n";

// Signal handlers may only write to a descriptor; the event loop reads the other end.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    const ssize_t ignored = ::write(g_signalPipe[1], &c, 1);
    (void)ignored;
}

void printLine(const QString& text)
{
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

int usageError(const QString& text)
{
    std::fprintf(stderr, "nodewarden tftpd: %s\n%s", qPrintable(text), kUsage);
    return 2;
}

struct TftpdOptions
{
    QString root;
    quint16 port = 69;
    QHostAddress address = QHostAddress(QHostAddress::AnyIPv4);
    QList<QPair<QHostAddress, int>> allowed;
    bool readOnly = false;
    int maxSessions = 256;
    qint64 maxFileSize = 0;
    int threads = std::clamp(QThread::idealThreadCount(), 1, 8);
    bool verbose = false;
};

// Returns 0 and fills *o, or the exit code of a usage error (-1 for --help).
int parseOptions(const QStringList& args, TftpdOptions* o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (a == QLatin1String("--read-only")) {
            o->readOnly = true;
            continue;
        }
        if (a == QLatin1String("--verbose")) {
            o->verbose = true;
            continue;
        }
        static const QStringList withValue = {"--root",   "--port",         "--address",
                                              "--allow",  "--max-sessions", "--max-file-size",
                                              "--threads"};
        if (!withValue.contains(a))
            return usageError(QStringLiteral("unexpected argument '%1'").arg(a));
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 needs a value").arg(a));
        const QString value = args[++i];
        bool ok = false;
        if (a == QLatin1String("--root")) {
            o->root = value;
        } else if (a == QLatin1String("--port")) {
            const uint port = value.toUInt(&ok);
            if (!ok || port == 0 || port > 65535)
                return usageError(
                    QStringLiteral("port '%1' is not a number from 1 to 65535").arg(value));
            o->port = quint16(port);
        } else if (a == QLatin1String("--address")) {
            o->address = QHostAddress(value);
            if (o->address.protocol() != QAbstractSocket::IPv4Protocol)
                return usageError(QStringLiteral("'%1' is not an IPv4 address").arg(value));
        } else if (a == QLatin1String("--allow")) {
            // ADDRESS alone is one host.
            const auto network =
                QHostAddress::parseSubnet(value.contains(QLatin1Char('/')) ? value : value + "/32");
            if (network.first.protocol() != QAbstractSocket::IPv4Protocol)
                return usageError(
                    QStringLiteral("'%1' is not an IPv4 address or network").arg(value));
            o->allowed.append(network);
        } else if (a == QLatin1String("--max-sessions")) {
            o->maxSessions = value.toInt(&ok);
            if (!ok || o->maxSessions < 1 || o->maxSessions > 4096)
                return usageError(
                    QStringLiteral("--max-sessions '%1' is not a number from 1 to 4096")
                        .arg(value));
        } else if (a == QLatin1String("--threads")) {
            o->threads = value.toInt(&ok);
            if (!ok || o->threads < 1 || o->threads > 64)
                return usageError(
                    QStringLiteral("--threads '%1' is not a number from 1 to 64").arg(value));
        } else {
            o->maxFileSize = value.toLongLong(&ok);
            if (!ok || o->maxFileSize < 0)
                return usageError(
                    QStringLiteral("--max-file-size '%1' is not a number of bytes").arg(value));
        }
    }
    if (o->root.isEmpty())
        return usageError(QStringLiteral("--root DIR is required"));
    if (!QFileInfo(o->root).isDir()) {
        std::fprintf(stderr, "nodewarden tftpd: '%s' is not a folder\n", qPrintable(o->root));
        return 2;
    }
    return 0;
}

// What the servers report, as the terminal shows it. Every serving thread reports here.
class TftpdLog
{
public:
    explicit TftpdLog(bool verbose) : m_verbose(verbose) { m_clock.start(); }

    // `server` tells the threads' servers apart: each numbers its sessions from 0.
    void Report(int server, const VxTFTPMsg& msg)
    {
        std::lock_guard lock(m_mutex);
        const qint64 session = (qint64(server) << 32) | quint32(msg.sessionNumber);
        if (m_verbose)
            print(TftpEventLogLine(msg, true));
        if (msg.sessionNumber < 0) {
            // A refusal or "busy": no session; once per peer (and name).
            if (!m_verbose)
                print(TftpEventLogLine(msg, true));
            return;
        }
        if (msg.status == TFTP_CONNECTED) {
            m_started.insert(session, m_clock.elapsed());
            print(TftpTransferStartLine(msg));
        } else if (msg.status == TFTP_SUCCESS || msg.status < 0) {
            const auto it = m_started.find(session);
            if (it == m_started.end())
                return; // ended already (a failed socket reports twice)
            print(TftpTransferEndLine(msg, m_clock.elapsed() - it.value()));
            m_started.erase(it);
        } else if (msg.status == TFTP_DISCONNECTED) {
            m_started.remove(session);
        }
    }

private:
    static void print(const QString& line)
    {
        if (!line.isEmpty())
            printLine(LogLine(line, true));
    }

    bool m_verbose;
    std::mutex m_mutex;
    QElapsedTimer m_clock;
    QHash<qint64, qint64> m_started;
};

// Serves until `descriptor` becomes readable: with the server's own wait, or, should that
// not be possible, with the thread's event loop.
void serveUntil(VxTFTPServer& server, int descriptor)
{
    if (server.Serve(descriptor))
        return;
    QEventLoop loop;
    QSocketNotifier notifier(descriptor, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    loop.exec();
}

int runTftpd(const QStringList& args)
{
    TftpdOptions options;
    if (const int rc = parseOptions(args, &options))
        return rc < 0 ? 0 : rc;

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        std::perror("nodewarden tftpd: socketpair");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    TftpdLog log(options.verbose);
    const QString rootPath = QDir(options.root).absolutePath();
    // With several threads each has a server of its own on the same port; the kernel
    // spreads the requests over them by the peer's address and port.
    std::shared_ptr<TftpServerGroup> group;
    if (options.threads > 1)
        group = std::make_shared<TftpServerGroup>();
    struct Reporter
    {
        TftpdLog* log;
        int server;
    };
    const auto configure = [&](VxTFTPServer& server, Reporter& reporter) {
        server.SetTimeouts(500, 3);
        server.SetCallback([r = &reporter](const VxTFTPMsg& msg, bool*) {
            r->log->Report(r->server, msg);
        });
        server.SetAllowedNetworks(options.allowed);
        server.SetReadOnly(options.readOnly);
        server.SetMaxFileSize(options.maxFileSize);
        server.SetSessionLimits(options.maxSessions, 8);
        server.SetGroup(group);
    };
    const auto startError = [](const VxError& e, const VxTFTPServer& server) {
        return QStringLiteral("%1\n  %2").arg(e.message(), server.StartErrorDetail());
    };

    Reporter mainReporter{&log, 0};
    VxTFTPServer server;
    configure(server, mainReporter);
    try {
        server.Start(rootPath, options.port, options.address);
    } catch (const VxError& e) {
        std::fprintf(stderr, "nodewarden tftpd: %s\n", qPrintable(startError(e, server)));
        return 1;
    }

    // The other threads stop when this descriptor becomes readable; nothing reads it.
    const int stopWorkers = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (options.threads > 1 && stopWorkers < 0) {
        std::perror("nodewarden tftpd: eventfd");
        return 1;
    }
    const auto stopThreads = [stopWorkers] {
        const uint64_t one = 1;
        const ssize_t ignored = ::write(stopWorkers, &one, sizeof one);
        (void)ignored;
    };
    std::vector<std::unique_ptr<QThread>> workers;
    QString workerError;
    QSemaphore workerStarted;
    for (int i = 1; i < options.threads && workerError.isEmpty(); ++i) {
        workers.emplace_back(QThread::create([&, i] {
            Reporter reporter{&log, i};
            VxTFTPServer worker;
            configure(worker, reporter);
            try {
                worker.Start(rootPath, server.Port(), options.address);
            } catch (const VxError& e) {
                workerError = startError(e, worker);
                workerStarted.release();
                return;
            }
            workerStarted.release();
            serveUntil(worker, stopWorkers);
            worker.Stop();
        }));
        workers.back()->start();
        workerStarted.acquire(); // workerError is set, if at all, before this returns
    }
    const auto joinThreads = [&] {
        stopThreads();
        for (auto& t : workers)
            t->wait();
        workers.clear();
        if (stopWorkers >= 0)
            ::close(stopWorkers);
    };
    if (!workerError.isEmpty()) {
        joinThreads();
        std::fprintf(stderr, "nodewarden tftpd: %s\n", qPrintable(workerError));
        return 1;
    }

    printLine(LogLine(QStringLiteral("[Tftp] Serving %1 on %2 port %3%4 (Ctrl+C to stop)")
                          .arg(QDir::toNativeSeparators(rootPath), options.address.toString(),
                               QString::number(server.Port()),
                               options.readOnly ? QStringLiteral(", read-only") : QString()),
                      true));

    serveUntil(server, g_signalPipe[0]);
    char c;
    const ssize_t ignored = ::read(g_signalPipe[0], &c, 1);
    (void)ignored;

    printLine(LogLine(QStringLiteral("[Tftp] Stopping: waiting for %1 session(s)")
                          .arg(group ? group->Sessions() : server.SessionCount()),
                      true));
    // Every thread lets its transfers finish (for at most 10 s) at the same time.
    stopThreads();
    server.Stop();
    joinThreads();
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    printLine(LogLine(QStringLiteral("[Tftp] Stopped."), true));
    return 0;
}

const CliCommandRegistration registration(
    {QStringLiteral("tftpd"),
     QStringLiteral(
         "tftpd --root DIR [--port N] [--address A] [--allow NET]... [--read-only] [--verbose]   "
         "serve DIR over TFTP until interrupted"),
     runTftpd});

} // namespace
