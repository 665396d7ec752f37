// A default Discover (DiscoveryTimeout 5 s, one request per pass) to a fleet of simulated
// devices on 127.0.0.1 answering as a burst, repeated: rows listed against devices each time,
// the time from the request to the last row, and the Discover's wall and CPU time.
//
// usage: bench_discover [DEVICES] [PATH-OF-ktr4200-sim] [REPEATS]
// The fleet runs as its own process, so the CPU time is the console's alone.
#include "BenchSupport.h"
#include "app/AppCore.h"
#include "app/DeviceListModel.h"
#include "common/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int devices = args.size() > 1 ? args.at(1).toInt() : 500;
    const QString simPath = args.size() > 2
                                ? args.at(2)
                                : QDir(QCoreApplication::applicationDirPath())
                                      .filePath(QStringLiteral("../src/sim/ktr4200-sim"));
    const int repeats = args.size() > 3 ? args.at(3).toInt() : 3;
    if (devices <= 0 || repeats <= 0 || repeats > 100 || !QFile::exists(simPath)) {
        std::fprintf(stderr,
                     "usage: bench_discover [DEVICES] [PATH-OF-ktr4200-sim] [REPEATS 1-100] "
                     "(not found: %s)\n",
                     qPrintable(simPath));
        return 2;
    }

    QTemporaryDir home;
    const quint16 port = BenchFreeUdpPort();
    QFile ini(QDir(home.path()).filePath(QStringLiteral("system.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    // Only the addresses differ from the defaults: nothing leaves the machine.
    ini.write(QStringLiteral("[System]\r\nNimpAddress=127.0.0.1\r\nNimpPort=%1\r\n")
                  .arg(port)
                  .toLatin1());
    ini.close();
    QDir(home.path()).mkpath(QStringLiteral("Config/Temp"));

    QProcess sim;
    sim.setProgram(simPath);
    sim.setArguments({QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("--port"), QString::number(port), QStringLiteral("--devices"),
                      QString::number(devices), QStringLiteral("--state-file"),
                      QDir(home.path()).filePath(QStringLiteral("sim-state.json"))});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simPath));
        return 1;
    }
    WaitMilliseconds(1000);

    int fewest = devices + 1;
    int most = 0;
    int complete = 0;
    double lastRowWorst = 0, lastRowSum = 0, wallSum = 0, cpuSum = 0;
    {
        AppCore core(home.path());
        int64_t t0 = 0;
        int64_t lastRow = 0;
        QObject::connect(&core.Devices(), &QAbstractItemModel::rowsInserted,
                         [&] { lastRow = TickCount(); });
        for (int run = 0; run < repeats; ++run) {
            t0 = TickCount();
            lastRow = t0;
            const double c0 = BenchCpuSeconds();
            core.Discover();
            const double wall = double(TickCount() - t0) / 1000.0;
            cpuSum += BenchCpuSeconds() - c0;
            wallSum += wall;
            const int rows = core.Devices().Count();
            const double toLast = double(lastRow - t0) / 1000.0;
            std::printf("run %d: %d of %d listed, last row after %.3f s, Discover %.3f s\n",
                        run + 1, rows, devices, toLast, wall);
            std::fflush(stdout);
            fewest = std::min(fewest, rows);
            most = std::max(most, rows);
            complete += rows == devices ? 1 : 0;
            lastRowWorst = std::max(lastRowWorst, toLast);
            lastRowSum += toLast;
        }
    }
    sim.terminate();
    if (!sim.waitForFinished(10000)) {
        sim.kill();
        sim.waitForFinished(2000);
    }
    std::printf("Discover CPU time (console), mean: %.3f s; wall, mean: %.3f s\n",
                cpuSum / repeats, wallSum / repeats);
    std::printf("%d devices: every device listed in %d of %d runs (rows %d to %d), "
                "last row after %.3f s mean, %.3f s worst\n",
                devices, complete, repeats, fewest, most, lastRowSum / repeats, lastRowWorst);
    return complete == repeats ? 0 : 1;
}
