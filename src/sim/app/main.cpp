// ktr4200-sim: a fleet of simulated access points on the command line.

#include "common/WholeFile.h"
#include "sim/Ktr4200Fleet.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Signals are turned into bytes on a pipe, which the event loop reads: nothing but
// write() runs inside the handler.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const char code = char(signal);
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &code, 1);
}

bool WriteState(const Ktr4200Fleet& fleet, const QString& stateFile)
{
    const QByteArray json = fleet.DumpJson();
    if (stateFile.isEmpty()) {
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fflush(stdout);
        return true;
    }
    if (QString reason; !WriteWholeFile(stateFile, json, &reason)) {
        std::fprintf(stderr, "ktr4200-sim: cannot write %s: %s\n", qPrintable(stateFile),
                     qPrintable(reason));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Qt's own event dispatcher rather than GLib's: a step less on each of the wake-ups that
    // hundreds of devices moving TFTP blocks make. Only the application object sees it.
    const bool dispatcherChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!dispatcherChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!dispatcherChosen)
        qunsetenv("QT_NO_GLIB");
    QStringList args = app.arguments();
    args.removeFirst();

    Ktr4200FleetOptions options;
    QString stateFile;
    QString error;
    bool help = false;
    if (!ParseFleetOptions(args, &options, &stateFile, &error, &help)) {
        std::fprintf(stderr, "ktr4200-sim: %s\nTry ktr4200-sim --help.\n", qPrintable(error));
        return 2;
    }
    if (help) {
        std::fputs(qPrintable(FleetOptionsHelp()), stdout);
        return 0;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("ktr4200-sim: pipe");
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGUSR1})
        sigaction(signal, &action, nullptr);

    Ktr4200Fleet fleet(options);
    if (!fleet.Start()) {
        std::fprintf(stderr, "ktr4200-sim: %s\n", qPrintable(fleet.ErrorString()));
        return 1;
    }
    std::fprintf(stderr, "ktr4200-sim: %d devices on %s:%u, TFTP port %u\n", fleet.DeviceCount(),
                 qPrintable(options.bindAddress.toString()), unsigned(fleet.Port()),
                 unsigned(options.tftpPort));

    bool stateOk = true;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char codes[64];
        const auto n = ::read(g_signalPipe[0], codes, sizeof codes);
        for (ssize_t i = 0; i < n; ++i) {
            if (codes[i] == char(SIGUSR1))
                stateOk = WriteState(fleet, stateFile) && stateOk;
            else
                app.quit();
        }
    });

    app.exec();
    fleet.Stop();
    return WriteState(fleet, stateFile) ? 0 : 1;
}
