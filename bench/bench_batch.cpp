// Batch flatness: wall and CPU time of Set IP, a configuration write, a firmware upgrade and a
// configuration backup
// with every time setting at its smallest value (1 s) for fleets of 1, 50 and 250 simulated
// devices on 127.0.0.1. A list pays each of its waits once for all devices; what grows with
// the fleet is the per-device steps that hold the queue for their reply (transfers and
// Get Version), which run one after the other.
//
// usage: bench_batch [--op upgrade|config|setip|backup] [IMAGE-KIB] [PATH-OF-ktr4200-sim]
//                    [FLEET-SIZE...]
// The fleet runs as its own process, so the console's time is not the simulator's.
#include "BenchSupport.h"
#include "app/AppCore.h"
#include "app/Backup.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "common/VxError.h"
#include "common/Wait.h"
#include "config/ConfigFileTarget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

namespace {

struct Result
{
    int devices = 0;
    int listed = 0;
    int ok = 0;
    double wall = 0;
    double cpu = 0;
    double simCpu = 0; // the simulated fleet's process over the operation
    bool ran = false;
};

enum class Op { Upgrade, Config, SetIp, Backup };

const char* opName(Op op)
{
    switch (op) {
    case Op::Config:
        return "config";
    case Op::SetIp:
        return "setip";
    case Op::Backup:
        return "backup";
    default:
        return "upgrade";
    }
}

std::optional<Op> opFromName(const QString& name)
{
    for (Op op : {Op::Upgrade, Op::Config, Op::SetIp, Op::Backup})
        if (name == QLatin1String(opName(op)))
            return op;
    return std::nullopt;
}

// Options passed on to the run of each fleet size.
struct RunOptions
{
    int parallel = 0; // 0: the default of the settings
    int blockDelayMs = 0;
    int blksize = 0;
    int windowsize = 0;
    int canary = 0; // an upgrade in waves: the canary, then waves of `wave`
    int wave = 0;

    QStringList arguments() const
    {
        QStringList out;
        if (canary > 0)
            out << QStringLiteral("--canary") << QString::number(canary);
        if (wave > 0)
            out << QStringLiteral("--wave") << QString::number(wave);
        if (parallel > 0)
            out << QStringLiteral("--parallel") << QString::number(parallel);
        if (blockDelayMs > 0)
            out << QStringLiteral("--block-delay") << QString::number(blockDelayMs);
        if (blksize > 0)
            out << QStringLiteral("--blksize") << QString::number(blksize);
        if (windowsize > 0)
            out << QStringLiteral("--windowsize") << QString::number(windowsize);
        return out;
    }
};

// Takes "--name N" out of args; fallback when it is not there.
int takeNumber(QStringList& args, const char* name, int fallback)
{
    const int at = int(args.indexOf(QLatin1String(name)));
    if (at < 0)
        return fallback;
    const int value = args.value(at + 1).toInt();
    args.remove(at, std::min<qsizetype>(2, args.size() - at));
    return value;
}

Result runOnce(Op op, const QString& simPath, int devices, int imageKib, const RunOptions& options)
{
    Result r;
    r.devices = devices;
    QTemporaryDir home;
    const quint16 nimpPort = BenchFreeUdpPort();
    const quint16 tftpPort = BenchFreeUdpPort();
    QFile ini(QDir(home.path()).filePath(QStringLiteral("system.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return r;
    // Loopback only; every time setting at 1 s. Discovery gets 2 s so that a large fleet is
    // listed completely; it is not part of the figure.
    ini.write(QStringLiteral("[System]\r\nNimpAddress=127.0.0.1\r\nNimpPort=%1\r\nTftpPort=%2\r\n"
                             "TftpServerAddress=127.0.0.1\r\nDiscoveryTimeout=2\r\n"
                             "NimpSetTimeout=1\r\nRebootTime=1\r\nConfigUploadTime=1\r\n"
                             "ConfigDownloadTime=1\r\nConfigFlashUpdateTime=1\r\n"
                             "FactoryResetTime=1\r\nFWFlashUpdateTime=1\r\n"
                             "TimingTolerance=1\r\n")
                  .arg(nimpPort)
                  .arg(tftpPort)
                  .toLatin1());
    // A time-out, not a wait: long enough for a paced image, paid by nobody.
    ini.write("FWDownloadTime=120\r\n");
    if (options.parallel > 0)
        ini.write(QStringLiteral("ParallelTransfers=%1\r\n").arg(options.parallel).toLatin1());
    ini.close();
    QDir(home.path()).mkpath(QStringLiteral("Config/Temp"));
    QDir(home.path()).mkpath(QStringLiteral("firmware"));
    const QString image = QDir(home.path()).filePath(QStringLiteral("firmware/ktr.bin"));
    QFile fw(image);
    if (!fw.open(QIODevice::WriteOnly))
        return r;
    QByteArray data = "FW_VERSION=9.99.99u\n";
    data.append(QByteArray(std::max(0, imageKib * 1024 - int(data.size())), 'F'));
    fw.write(data);
    fw.close();

    QProcess sim;
    sim.setProgram(simPath);
    QStringList paced;
    if (options.blockDelayMs > 0)
        paced << QStringLiteral("--tftp-block-delay") << QString::number(options.blockDelayMs);
    if (options.blksize > 0)
        paced << QStringLiteral("--tftp-blksize") << QString::number(options.blksize);
    if (options.windowsize > 0)
        paced << QStringLiteral("--tftp-windowsize") << QString::number(options.windowsize);
    // The devices flash and reboot within the one-second waits.
    sim.setArguments(paced + QStringList{QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("--port"), QString::number(nimpPort),
                      QStringLiteral("--devices"), QString::number(devices),
                      QStringLiteral("--tftp-port"), QString::number(tftpPort),
                      QStringLiteral("--flash-time"), QStringLiteral("300"),
                      QStringLiteral("--reboot-time"), QStringLiteral("500"),
                      QStringLiteral("--factory-reset-time"), QStringLiteral("500"),
                      // A lost TFTP packet is sent again well within the 1 s request time-out.
                      QStringLiteral("--tftp-timeout"), QStringLiteral("250"),
                      QStringLiteral("--state-file"),
                      QDir(home.path()).filePath(QStringLiteral("sim-state.json"))});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simPath));
        return r;
    }
    // A fleet run under a profiler starts slower: BENCH_SIM_START_MS gives it longer.
    WaitMilliseconds(qEnvironmentVariableIntValue("BENCH_SIM_START_MS") > 0
                         ? qEnvironmentVariableIntValue("BENCH_SIM_START_MS")
                         : 500);
    try {
        AppCore core(home.path());
        ConfigFileTarget config;
        core.SetConfig(&config);
        core.Discover();
        r.listed = core.Devices().Count();
        core.Devices().SelectAll();
        if (op == Op::Config) {
            // A few settings of the kind an administrator sends to a whole fleet.
            const QString file = QDir(home.path()).filePath(QStringLiteral("bench.cfg"));
            QFile cfg(file);
            if (!cfg.open(QIODevice::WriteOnly))
                return r;
            cfg.write("80211a_ssid =\"Bench\"\r\n80211a_beacon_interval =200\r\n"
                      "80211g_ssid =\"Bench G\"\r\n");
            cfg.close();
            if (config.LoadSelectedSettings(file) != 0)
                return r;
            if (devices > 1)
                config.SetMultipleDevicesMode();
        }
        const int64_t t0 = TickCount();
        const double c0 = BenchCpuSeconds();
        const double s0 = BenchProcessCpuSeconds(sim.processId());
        switch (op) {
        case Op::Upgrade: {
            BatchRunOptions upgrade;
            upgrade.waves.canary = options.canary;
            upgrade.waves.wave = options.wave;
            UpgradeFirmware(core, image, upgrade);
        }
            break;
        case Op::Config:
            ApplyConfiguration(core);
            break;
        case Op::SetIp:
            core.SetIP(QStringLiteral("10.1.0.1"), QStringLiteral("255.255.0.0"));
            break;
        case Op::Backup:
            BackUpConfigurations(core, QDir(home.path()).filePath(QStringLiteral("backup")));
            break;
        }
        r.wall = double(TickCount() - t0) / 1000.0;
        r.cpu = BenchCpuSeconds() - c0;
        r.simCpu = BenchProcessCpuSeconds(sim.processId()) - s0;
        QMap<QString, int> failures;
        for (DeviceRow* row : core.Devices().SelectedRows()) {
            const QString status = core.Devices().GetStatus(row);
            if (status == QLatin1String(DeviceStatus::Ok))
                ++r.ok;
            else
                ++failures[status + QStringLiteral(" after ") + core.Devices().GetAction(row)];
        }
        for (auto it = failures.begin(); it != failures.end(); ++it)
            std::fprintf(stderr, "  %d devices ended \"%s\"\n", it.value(), qPrintable(it.key()));
        if (qEnvironmentVariableIsSet("BENCH_BATCH_LOG"))
            for (const QString& line : core.Log().Lines())
                std::fprintf(stderr, "%s\n", qPrintable(line));
        r.ran = true;
    } catch (const VxError& e) {
        std::fprintf(stderr, "%s of %d devices failed: %s\n", opName(op), devices, e.what());
    }
    sim.terminate();
    if (!sim.waitForFinished(10000)) {
        sim.kill();
        sim.waitForFinished(2000);
    }
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    Op op = Op::Upgrade;
    const int opAt = int(args.indexOf(QStringLiteral("--op")));
    if (opAt >= 0) {
        const std::optional<Op> chosen = opFromName(args.value(opAt + 1));
        if (!chosen) {
            std::fprintf(stderr, "--op takes upgrade, config, setip or backup\n");
            return 2;
        }
        op = *chosen;
        args.remove(opAt, std::min<qsizetype>(2, args.size() - opAt));
    }
    RunOptions options;
    options.parallel = takeNumber(args, "--parallel", 0);
    options.blockDelayMs = takeNumber(args, "--block-delay", 0);
    options.blksize = takeNumber(args, "--blksize", 0);
    options.windowsize = takeNumber(args, "--windowsize", 0);
    options.canary = takeNumber(args, "--canary", 0);
    options.wave = takeNumber(args, "--wave", 0);
    const int imageKib = !args.isEmpty() ? args.at(0).toInt() : 64;
    const QString simPath = args.size() > 1
                                ? args.at(1)
                                : QDir(QCoreApplication::applicationDirPath())
                                      .filePath(QStringLiteral("../src/sim/ktr4200-sim"));
    QList<int> sizes;
    for (int i = 2; i < args.size(); ++i)
        sizes.append(args.at(i).toInt());
    if (sizes.isEmpty())
        sizes = {1, 50, 250};
    if (imageKib <= 0 || !QFile::exists(simPath)) {
        std::fprintf(stderr,
                     "usage: bench_batch [--op upgrade|config|setip|backup] [--parallel N] "
                     "[--block-delay MS] [--blksize N] [--windowsize N] [--canary N] [--wave M] [IMAGE-KIB] "
                     "[PATH-OF-ktr4200-sim] [FLEET-SIZE...] (not found: %s)\n",
                     qPrintable(simPath));
        return 2;
    }

    // One size per process: each run starts from a console as fresh as a real one.
    if (sizes.size() > 1) {
        QString setup = QStringLiteral("ParallelTransfers %1; devices pace each TFTP packet by %2 ms")
                            .arg(options.parallel > 0 ? QString::number(options.parallel)
                                                      : QStringLiteral("%1 (default)").arg(AppSettings().parallelTransfers))
                            .arg(options.blockDelayMs);
        if (options.blksize > 0)
            setup += QStringLiteral(", blksize %1").arg(options.blksize);
        if (options.windowsize > 0)
            setup += QStringLiteral(", windowsize %1").arg(options.windowsize);
        std::printf("%s\n", qPrintable(setup));
        if (op == Op::Upgrade)
            std::printf("firmware upgrade, every time setting 1 s, image %d KiB, loopback\n",
                        imageKib);
        else
            std::printf("%s, every time setting 1 s, loopback\n",
                        op == Op::Config   ? "configuration write with verification"
                        : op == Op::Backup ? "configuration backup"
                                           : "Set IP");
        std::printf("%8s %8s %8s %12s %12s %12s %14s\n", "devices", "listed", "OK", "wall (s)",
                    "CPU (s)", "sim CPU (s)", "wall/device");
        std::fflush(stdout);
        bool allOk = true;
        double firstWall = 0;
        double lastWall = 0;
        for (int devices : sizes) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        QStringList{QStringLiteral("--op"), QLatin1String(opName(op))}
                            + options.arguments()
                            + QStringList{QString::number(imageKib), simPath,
                                          QString::number(devices)});
            // Bounded: 250 paced images one after the other take about ten minutes.
            if (!child.waitForFinished(1800000)) {
                child.kill();
                child.waitForFinished(5000);
            }
            const QByteArray row = child.readAllStandardOutput();
            std::fwrite(row.constData(), 1, size_t(row.size()), stdout);
            std::fflush(stdout);
            // The row's fourth column is the wall time.
            const QList<QByteArray> fields = row.simplified().split(' ');
            const double wall = fields.size() >= 4 ? fields.at(3).toDouble() : 0;
            if (devices == sizes.first())
                firstWall = wall;
            lastWall = wall;
            allOk = allOk && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        }
        // Last line: the figure (target: the largest fleet within 20 % of the smallest).
        std::printf("%s: %d devices %.2f s = %.2f x %d device(s) %.2f s, every device OK: %s\n",
                    opName(op), sizes.last(), lastWall, firstWall > 0 ? lastWall / firstWall : 0.0,
                    sizes.first(), firstWall, allOk ? "yes" : "no");
        return allOk ? 0 : 1;
    }

    const int devices = sizes.first();
    if (devices <= 0 || devices > 1000)
        return 2;
    const Result r = runOnce(op, simPath, devices, imageKib, options);
    std::printf("%8d %8d %8d %12.2f %12.2f %12.2f %13.1fms\n", r.devices, r.listed, r.ok, r.wall,
                r.cpu, r.simCpu, r.wall * 1000.0 / r.devices);
    std::fflush(stdout);
    return r.ran && r.ok == devices ? 0 : 1;
}
