// Wall and CPU time of a default Discover (DiscoveryTimeout 5 s, one request per pass) on a
// fleet of simulated devices on 127.0.0.1, and how many rows it listed.
//
// usage: bench_discover [DEVICES] [PATH-OF-ktr4200-sim]
// The fleet runs as its own process, so the CPU time is the console's alone.
#include "app/AppCore.h"
#include "common/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int devices = args.size() > 1 ? args.at(1).toInt() : 500;
    const QString simPath = args.size() > 2
                                ? args.at(2)
                                : QDir(QCoreApplication::applicationDirPath())
                                      .filePath(QStringLiteral("../src/sim/ktr4200-sim"));
    if (devices <= 0 || !QFile::exists(simPath)) {
        std::fprintf(stderr,
                     "usage: bench_discover [DEVICES] [PATH-OF-ktr4200-sim] (not found: %s)\n",
                     qPrintable(simPath));
        return 2;
    }

    QTemporaryDir home;
    const quint16 port = freeUdpPort();
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

    int rows = 0;
    double wall = 0, cpu = 0;
    {
        AppCore core(home.path());
        const int64_t t0 = TickCount();
        const double c0 = cpuSeconds();
        core.Discover();
        wall = double(TickCount() - t0) / 1000.0;
        cpu = cpuSeconds() - c0;
        rows = core.Devices().Count();
    }
    sim.terminate();
    if (!sim.waitForFinished(10000)) {
        sim.kill();
        sim.waitForFinished(2000);
    }
    std::printf("devices simulated: %d\n", devices);
    std::printf("Discover wall time: %.3f s\n", wall);
    std::printf("Discover CPU time (console): %.3f s\n", cpu);
    std::printf("rows listed: %d\n", rows);
    return rows == devices ? 0 : 1;
}
