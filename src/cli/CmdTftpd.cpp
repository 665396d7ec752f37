// nodewarden tftpd: the console's TFTP server on its own, to serve a folder by hand (for
// instance to recover a device), with a line on standard output when a transfer starts
// and one when it ends.

#include "cli/CliCommand.h"
#include "common/LogFormat.h"
#include "common/VxError.h"
#include "tftp/TftpLogLine.h"
#include "tftp/VxTFTPServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: nodewarden tftpd --root DIR [--port N] [--address A] [--allow ADDRESS[/BITS]]...\n"
    "                        [--read-only] [--max-sessions N] [--max-file-size BYTES] [--verbose]\n"
    "  --root DIR            the folder served; no file outside it, and no symbolic link, is "
    "opened\n"
    "  --port N              UDP port (default 69)\n"
    "  --address A           IPv4 address to listen on (default 0.0.0.0)\n"
    "  --allow ADDRESS[/BITS]  serve only peers in this network (repeatable; default: every peer)\n"
    "  --read-only           refuse every write\n"
    "  --max-sessions N      transfers at once (default 256; 8 from one address off loopback)\n"
    "  --max-file-size BYTES largest file read or written (default 0: no limit)\n"
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
    bool verbose = false;
};

// Returns 0 and fills *o, or the exit code of a usage error (-1 for --help).
int parseOptions(const QStringList& args, TftpdOptions* o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help")) {
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
        static const QStringList withValue = {"--root",  "--port",         "--address",
                                              "--allow", "--max-sessions", "--max-file-size"};
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

// What the server reports, as the terminal shows it.
class TftpdLog
{
public:
    explicit TftpdLog(bool verbose) : m_verbose(verbose) { m_clock.start(); }

    void Report(const VxTFTPMsg& msg)
    {
        if (m_verbose)
            print(TftpEventLogLine(msg, true));
        if (msg.sessionNumber < 0) {
            // A refusal or "busy": no session; once per peer (and name).
            if (!m_verbose)
                print(TftpEventLogLine(msg, true));
            return;
        }
        if (msg.status == TFTP_CONNECTED) {
            m_started.insert(msg.sessionNumber, m_clock.elapsed());
            print(TftpTransferStartLine(msg));
        } else if (msg.status == TFTP_SUCCESS || msg.status < 0) {
            const auto it = m_started.find(msg.sessionNumber);
            if (it == m_started.end())
                return; // ended already (a failed socket reports twice)
            print(TftpTransferEndLine(msg, m_clock.elapsed() - it.value()));
            m_started.erase(it);
        } else if (msg.status == TFTP_DISCONNECTED) {
            m_started.remove(msg.sessionNumber);
        }
    }

private:
    static void print(const QString& line)
    {
        if (!line.isEmpty())
            printLine(LogLine(line, true));
    }

    bool m_verbose;
    QElapsedTimer m_clock;
    QHash<int, qint64> m_started;
};

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
    VxTFTPServer server;
    server.SetTimeouts(500, 3);
    server.SetCallback(
        [](void* arg, const VxTFTPMsg& msg, bool*) { static_cast<TftpdLog*>(arg)->Report(msg); },
        &log);
    server.SetAllowedNetworks(options.allowed);
    server.SetReadOnly(options.readOnly);
    server.SetMaxFileSize(options.maxFileSize);
    server.SetSessionLimits(options.maxSessions, 8);
    const QString rootPath = QDir(options.root).absolutePath();
    try {
        server.Start(rootPath, options.port, options.address);
    } catch (const VxError& e) {
        std::fprintf(stderr, "nodewarden tftpd: %s\n  %s\n", qPrintable(e.message()),
                     qPrintable(server.StartErrorDetail()));
        return 1;
    }
    printLine(LogLine(QStringLiteral("[Tftp] Serving %1 on %2 port %3%4 (Ctrl+C to stop)")
                          .arg(QDir::toNativeSeparators(rootPath), options.address.toString(),
                               QString::number(server.Port()),
                               options.readOnly ? QStringLiteral(", read-only") : QString()),
                      true));

    // The server has the thread to itself: it waits for its sockets and the signal pipe
    // directly, without the event loop's extra wait per packet. Should that wait not be
    // possible, the event loop serves instead.
    if (server.Serve(g_signalPipe[0])) {
        char c;
        const ssize_t ignored = ::read(g_signalPipe[0], &c, 1);
        (void)ignored;
    } else {
        QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            char c;
            const ssize_t ignored = ::read(g_signalPipe[0], &c, 1);
            (void)ignored;
            notifier.setEnabled(false);
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
    }

    printLine(LogLine(
        QStringLiteral("[Tftp] Stopping: waiting for %1 session(s)").arg(server.SessionCount()),
        true));
    server.Stop();
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
