#include "app/AppErrors.h"
#include "app/AppSettings.h"
#include "app/NimpInterfaces.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/TMainForm.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "cli/Demo.h"
#include "cli/Screenshots.h"
#include "common/ProgramVersion.h"
#include "common/VxError.h"
#include "common/VxNetInterface.h"
#include "common/ui/VxMessageBox.h"
#include "sim/Ktr4200Fleet.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStatusBar>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

void printUsage(FILE* to)
{
    std::fputs(
        "usage: nodewarden [--home DIR]                start the console window\n"
        "       nodewarden --demo [N]                  the window over N simulated devices "
        "(default 8)\n"
        "       nodewarden [--home DIR] [--parallel N] [--interface NAME]... COMMAND [ARGS...]\n"
        "       nodewarden help [COMMAND]              this text, or the command's own\n"
        "       nodewarden --version | --help | -h\n\n"
        "  --home DIR        the data folder (system.ini, Config/, firmware/)\n"
        "  --parallel N      devices that transfer at once in this run, 1 to 256\n"
        "                    (ParallelTransfers of system.ini, default 256)\n"
        "  --interface NAME  discover on this network interface in this run; repeat it for\n"
        "                    more (NimpInterface of system.ini; default every interface\n"
        "                    that is up, has an IPv4 address and is not a loopback)\n"
        "These three may also follow the command (nodewarden discover --home DIR).\n\ncommands:\n",
        to);
    std::vector<CliCommand> commands = CliCommands();
    std::sort(commands.begin(), commands.end(), [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
    for (const CliCommand& c : commands)
        std::fprintf(to, "  %s\n", qPrintable(c.synopsis));
    std::fputs("\nThe demo runs the devices on 127.0.0.1 in a temporary data folder; without a display it\n"
               "runs discover, set-ip and an upgrade that keeps each configuration through the\n"
               "commands and prints the log.\n",
               to);
}

// Whether a person can see a window. The offscreen platforms draw for nobody: a demo there
// would wait forever for a click.
bool haveDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal")
        return false;
    return !platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Whether Qt can make a window here at all: a display, or a platform chosen by whoever
// started the program (offscreen included, for tests and for pictures).
bool canOpenWindow()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void setNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("nodewarden"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_TEXT));
}

struct Options
{
    bool demo = false;
    int demoDevices = DemoEnvironment::DefaultDevices;
    QString screenshots; // folder for the window pictures (with --demo)
    QString command;
    QStringList commandArgs;
};

int runCommand(int argc, char** argv, const Options& options)
{
    // The commands run on Qt's own event dispatcher rather than GLib's: a step less on every
    // wake-up, which the TFTP server pays once per block (about 8 % more throughput with 20
    // clients in lock-step). Only the application object sees the variable.
    const bool dispatcherChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!dispatcherChosen)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!dispatcherChosen)
        qunsetenv("QT_NO_GLIB");
    setNames();
    for (const CliCommand& c : CliCommands()) {
        if (c.name == options.command) {
            try {
                return c.run(options.commandArgs);
            } catch (const VxError& e) {
                std::fprintf(stderr, "nodewarden: %s\n", e.what());
                // An interface or an address named in system.ini that cannot be used is a
                // setting to mend, as a wrong --interface is.
                return e.code() == AppErrorUnknownInterface || e.code() == AppErrorUnusableSettings
                           ? ExitUsage
                           : 1;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "nodewarden: %s\n", e.what());
                return 1;
            }
        }
    }
    std::fprintf(stderr, "nodewarden: unknown command '%s'\n", qPrintable(options.command));
    printUsage(stderr);
    return 2;
}

int runWindow(int argc, char** argv, const Options& options)
{
    // Pictures of the windows need no display: they are drawn offscreen.
    if (!options.screenshots.isEmpty() && !haveDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (options.demo && options.screenshots.isEmpty() && !haveDisplay()) {
        QCoreApplication app(argc, argv);
        setNames();
        DemoEnvironment demo;
        QString error;
        if (!demo.Start(options.demoDevices, &error)) {
            std::fprintf(stderr, "nodewarden: %s\n", qPrintable(error));
            return 1;
        }
        return RunHeadlessDemo(demo);
    }
    if (options.screenshots.isEmpty() && !canOpenWindow()) {
        std::fputs("nodewarden: no display to show the window on (DISPLAY is not set); the commands run "
                   "without one (see --help)\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    setNames();
    QApplication::setQuitOnLastWindowClosed(true);

    std::unique_ptr<DemoEnvironment> demo;
    if (options.demo) {
        demo = std::make_unique<DemoEnvironment>();
        QString error;
        if (!demo->Start(options.demoDevices, &error)) {
            std::fprintf(stderr, "nodewarden: %s\n", qPrintable(error));
            return 1;
        }
        if (!options.screenshots.isEmpty())
            return RunScreenshots(*demo, options.screenshots);
    }

    QLockFile lock(SingleInstanceLockPath());
    if (!AcquireSingleInstance(lock)) {
        VxMessageBox(nullptr, QString::fromLatin1(AnotherInstanceText), QString::fromLatin1(AnotherInstanceCaption),
                     QMessageBox::Ok, QMessageBox::Warning);
        return 0;
    }

    QString folder;
    try {
        folder = demo ? demo->DataFolder() : ResolveDataFolder(CliGlobals().home);
        PrepareDataFolder(folder);
    } catch (const VxError& e) {
        VxMessageBox(nullptr, e.message(), QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return 1;
    }

    TMainForm window(folder);
    if (window.InitFailed())
        return 1;
    window.show();
    if (demo)
        window.statusBar()->showMessage(QStringLiteral("Demo: %1 simulated devices on 127.0.0.1 (%2 of the managed "
                                                       "model). Press Discover.")
                                            .arg(demo->Fleet().DeviceCount())
                                            .arg(demo->ManagedCount()));
    return app.exec();
}

// The options that shape a command's run (--home, --parallel, --interface), before the
// command or after it. Takes the option's value from args; returns -1 when opt is none of
// them, 0 when it was taken, else the exit status of a bad value.
int takeRunOption(const QString& opt, QStringList& args)
{
    if (opt == QLatin1String("--home")) {
        if (args.isEmpty()) {
            std::fputs("nodewarden: --home needs a folder\n", stderr);
            return 2;
        }
        CliGlobals().home = args.takeFirst();
        return 0;
    }
    if (opt == QLatin1String("--parallel")) {
        bool ok = false;
        const int n = args.isEmpty() ? 0 : args.first().toInt(&ok);
        if (!ok || n < 1 || n > MaxParallelTransfers) {
            std::fprintf(stderr, "nodewarden: --parallel takes a number from 1 to %d\n",
                         MaxParallelTransfers);
            return 2;
        }
        args.removeFirst();
        CliGlobals().parallel = n;
        return 0;
    }
    if (opt == QLatin1String("--interface")) {
        if (args.isEmpty() || args.first().startsWith(QLatin1String("--"))) {
            std::fputs("nodewarden: --interface needs an interface name\n", stderr);
            return ExitUsage;
        }
        const QString name = args.takeFirst();
        // Known now or never: a name that is no usable interface ends the run before any
        // command starts.
        try {
            ChooseNimpInterfaces({name}, LocalInterfaces());
        } catch (const VxError& e) {
            std::fprintf(stderr, "nodewarden: %s\n", e.what());
            return ExitUsage;
        }
        if (!CliGlobals().interfaces.contains(name))
            CliGlobals().interfaces.append(name);
        return 0;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    // The application class must be chosen before it is created: the commands run headless
    // (QCoreApplication), the window needs a QApplication and a display.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    Options options;
    while (!args.isEmpty() && (args.first().startsWith(QLatin1String("--")) ||
                               args.first() == QLatin1String("-h"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            printUsage(stdout);
            return 0;
        }
        if (opt == QLatin1String("--version")) {
            std::printf("nodewarden %s\n", NW_VERSION_TEXT);
            return 0;
        }
        if (const int taken = takeRunOption(opt, args); taken >= 0) {
            if (taken > 0)
                return taken;
            continue;
        }
        if (opt == QLatin1String("--demo")) {
            options.demo = true;
            if (!args.isEmpty() && !args.first().startsWith(QLatin1String("--"))) {
                bool ok = false;
                const int n = args.first().toInt(&ok);
                if (!ok || n < 1 || n > DemoEnvironment::MaxDevices) {
                    std::fprintf(stderr, "nodewarden: --demo takes a device count from 1 to %d\n",
                                 DemoEnvironment::MaxDevices);
                    return 2;
                }
                options.demoDevices = n;
                args.removeFirst();
            }
            continue;
        }
        if (opt == QLatin1String("--screenshots")) {
            if (args.isEmpty()) {
                std::fputs("nodewarden: --screenshots needs a folder\n", stderr);
                return 2;
            }
            options.screenshots = args.takeFirst();
            options.demo = true;
            continue;
        }
        std::fprintf(stderr, "nodewarden: unknown option '%s'\n", qPrintable(opt));
        printUsage(stderr);
        return 2;
    }
    if (!args.isEmpty()) {
        if (options.demo) {
            std::fputs("nodewarden: --demo takes no command\n", stderr);
            return 2;
        }
        options.command = args.takeFirst();
        // "help" and "help COMMAND" as the usage and the command's own --help.
        if (options.command == QLatin1String("help")) {
            if (args.isEmpty()) {
                printUsage(stdout);
                return 0;
            }
            options.command = args.takeFirst();
            if (!args.isEmpty()) {
                std::fputs("nodewarden help: give one command\n", stderr);
                return 2;
            }
            args = QStringList{QStringLiteral("--help")};
        }
        // The run's options may also follow the command; its own options are left to it.
        QStringList rest;
        while (!args.isEmpty()) {
            const QString arg = args.takeFirst();
            if (arg == QLatin1String("--")) {
                rest.append(arg);
                rest.append(args);
                break;
            }
            const int taken = takeRunOption(arg, args);
            if (taken > 0)
                return taken;
            if (taken < 0)
                rest.append(arg);
        }
        options.commandArgs = rest;
        return runCommand(argc, argv, options);
    }
    try {
        return runWindow(argc, argv, options);
    } catch (const VxError& e) {
        std::fprintf(stderr, "nodewarden: %s\n", e.what());
        return 1;
    }
}
