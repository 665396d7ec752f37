// nodewarden tftpd: the console's TFTP server on its own, to serve a folder by hand
// (for instance to recover a device) with every session event on standard output.

#include "cli/CliCommand.h"
#include "common/LogFormat.h"
#include "common/VxError.h"
#include "tftp/TftpLogLine.h"
#include "tftp/VxTFTPServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char* const kUsage = "usage: nodewarden tftpd --root DIR [--port N] [--address A]\n";

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

int runTftpd(const QStringList& args)
{
    QString root;
    QString portText = QStringLiteral("69");
    QString addressText = QStringLiteral("0.0.0.0");
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if ((a == QLatin1String("--root") || a == QLatin1String("--port") || a == QLatin1String("--address"))
            && i + 1 < args.size()) {
            const QString value = args[++i];
            if (a == QLatin1String("--root"))
                root = value;
            else if (a == QLatin1String("--port"))
                portText = value;
            else
                addressText = value;
        } else if (a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "nodewarden tftpd: unexpected argument '%s'\n%s", qPrintable(a), kUsage);
            return 2;
        }
    }
    if (root.isEmpty()) {
        std::fprintf(stderr, "nodewarden tftpd: --root DIR is required\n%s", kUsage);
        return 2;
    }
    const QFileInfo rootInfo(root);
    if (!rootInfo.isDir()) {
        std::fprintf(stderr, "nodewarden tftpd: '%s' is not a folder\n", qPrintable(root));
        return 2;
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        std::fprintf(stderr, "nodewarden tftpd: port '%s' is not a number from 1 to 65535\n",
                     qPrintable(portText));
        return 2;
    }
    const QHostAddress address(addressText);
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        std::fprintf(stderr, "nodewarden tftpd: '%s' is not an IPv4 address\n", qPrintable(addressText));
        return 2;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        std::perror("nodewarden tftpd: socketpair");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    VxTFTPServer server;
    server.SetTimeouts(500, 3);
    server.SetCallback([](void*, const VxTFTPMsg& msg,
                          bool*) { printLine(LogLine(TftpEventLogLine(msg, true), true)); },
                       nullptr);
    const QString rootPath = QDir(root).absolutePath();
    try {
        server.Start(rootPath, quint16(port), address);
    } catch (const VxError& e) {
        std::fprintf(stderr, "nodewarden tftpd: %s\n  %s\n", qPrintable(e.message()),
                     qPrintable(server.StartErrorDetail()));
        return 1;
    }
    printLine(LogLine(QStringLiteral("[Tftp] Serving %1 on %2 port %3 (Ctrl+C to stop)")
                          .arg(QDir::toNativeSeparators(rootPath), address.toString())
                          .arg(server.Port()),
                      true));

    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        const ssize_t ignored = ::read(g_signalPipe[0], &c, 1);
        (void)ignored;
        notifier.setEnabled(false);
        QCoreApplication::quit();
    });
    QCoreApplication::exec();

    printLine(LogLine(QStringLiteral("[Tftp] Stopping: waiting for %1 session(s)").arg(server.SessionCount()),
                      true));
    server.Stop();
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    printLine(LogLine(QStringLiteral("[Tftp] Stopped."), true));
    return 0;
}

const CliCommandRegistration registration({QStringLiteral("tftpd"),
                                           QStringLiteral("tftpd --root DIR [--port N] [--address A]   "
                                                          "serve DIR over TFTP until interrupted"),
                                           runTftpd});

} // namespace
