#include "cli/Demo.h"

#include "cli/CliCommand.h"
#include "common/TextHelpers.h"
#include "common/WholeFile.h"
#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFile>
#include <QUdpSocket>

#include <cstdio>

namespace {

// Every fifth device is the access-point variant (listed with the managed model); every
// seventh is another model, which Discover's filter leaves out.
QString demoModel(int index)
{
    if (index % 7 == 6)
        return QStringLiteral("KTR-2100");
    if (index % 5 == 4)
        return QStringLiteral("KTR-4200AP");
    return QString();
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

int runCommand(const QString& name, const QStringList& args)
{
    for (const CliCommand& c : CliCommands())
        if (c.name == name) {
            std::printf("\n$ nodewarden %s %s\n", qPrintable(name), qPrintable(args.join(QLatin1Char(' '))));
            std::fflush(stdout);
            const int status = c.run(args);
            std::fflush(stdout);
            std::fflush(stderr);
            return status;
        }
    std::printf("(this build has no '%s' command)\n", qPrintable(name));
    return 0;
}

// The first settings of a configuration file the demo read, to show it before and after.
void printConfigurationHead(const QString& mac, const QString& when, const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    std::printf("\n%s's configuration %s (%s), its first settings:\n", qPrintable(mac), qPrintable(when),
                qPrintable(file));
    constexpr int Shown = 8;
    for (int shown = 0; shown < Shown && !f.atEnd();) {
        const QString line = QString::fromLatin1(f.readLine()).trimmed();
        if (!line.contains(QLatin1Char('=')))
            continue;
        std::printf("    %s\n", qPrintable(EscapeUntrusted(line)));
        ++shown;
    }
    std::fflush(stdout);
}

} // namespace

DemoEnvironment::DemoEnvironment() = default;

DemoEnvironment::~DemoEnvironment()
{
    if (m_fleet)
        m_fleet->Stop();
}

QString DemoEnvironment::FirmwareImage() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("firmware/KTR-4200-1.03.00.bin"));
}

bool DemoEnvironment::Start(int deviceCount, QString* error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder: ") + m_dir.errorString();
        return false;
    }
    const quint16 tftpPort = freeUdpPort();
    Ktr4200FleetOptions options;
    options.bindAddress = QHostAddress::LocalHost;
    options.port = 0;
    options.deviceCount = deviceCount;
    options.baseIp = QStringLiteral("192.168.0.50");
    options.tftpPort = tftpPort;
    options.tftpTimeoutMs = 300;
    options.flashMs = 600;
    options.rebootMs = 1500;
    options.factoryResetMs = 2000;
    m_managed = 0;
    for (int i = 0; i < deviceCount; ++i) {
        const QString model = demoModel(i);
        if (!model.isEmpty())
            options.modelAt.insert(i, model);
        if (model != QLatin1String("KTR-2100"))
            ++m_managed;
    }
    m_fleet = std::make_unique<Ktr4200Fleet>(options);
    if (!m_fleet->Start()) {
        *error = QStringLiteral("cannot start the simulated fleet: ") + m_fleet->ErrorString();
        return false;
    }

    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("Config/Temp"));
    root.mkpath(QStringLiteral("firmware"));
    root.mkpath(QStringLiteral("bmp"));
    const QString iniPath = root.filePath(QStringLiteral("system.ini"));
    // Loopback only, and timings cut to what the simulated devices need.
    const QByteArray text = "[System]\r\n"
                            "NimpAddress=127.0.0.1\r\n"
                            "NimpPort=" + QByteArray::number(m_fleet->Port()) + "\r\n"
                            "TftpPort=" + QByteArray::number(tftpPort) + "\r\n"
                            "TftpServerAddress=127.0.0.1\r\n"
                            "DiscoveryTimeout=2\r\n"
                            "NimpSetTimeout=1\r\n"
                            "TimingTolerance=1\r\n"
                            "RebootTime=3\r\n"
                            "FactoryResetTime=3\r\n"
                            "ConfigUploadTime=3\r\n"
                            "ConfigDownloadTime=3\r\n"
                            "ConfigFlashUpdateTime=2\r\n"
                            "FWDownloadTime=5\r\n"
                            "FWFlashUpdateTime=2\r\n"
                            "\r\n[System Form]\r\n"
                            "CBoxModule.Captions=KTR-4200,KTR-4200AP\r\n";
    QString reason;
    if (!WriteWholeFile(iniPath, text, &reason)) {
        *error = QStringLiteral("cannot write %1: %2").arg(iniPath, reason);
        return false;
    }

    // An image as the simulated devices take one: binary, with the version it installs.
    QByteArray bytes(64 * 1024, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 31 + 7) & 0xFF);
    const QByteArray version = "FW_VERSION=1.03.00\n";
    bytes.replace(0, version.size(), version);
    if (!WriteWholeFile(FirmwareImage(), bytes, &reason)) {
        *error = QStringLiteral("cannot write %1: %2").arg(FirmwareImage(), reason);
        return false;
    }
    return true;
}

int RunHeadlessDemo(DemoEnvironment& demo)
{
    std::printf("No display: running the demo through the command line.\n"
                "%d simulated devices answer on 127.0.0.1 (%d of the managed model); data folder %s\n",
                demo.Fleet().DeviceCount(), demo.ManagedCount(), qPrintable(demo.DataFolder()));
    std::fflush(stdout);
    CliGlobals().home = demo.DataFolder();

    int worst = runCommand(QStringLiteral("discover"), {});
    worst = std::max(worst, runCommand(QStringLiteral("set-ip"), {QStringLiteral("--all"), QStringLiteral("--ip"),
                                                                   QStringLiteral("10.0.0.20"), QStringLiteral("--mask"),
                                                                   QStringLiteral("255.255.255.0"), QStringLiteral("--yes")}));
    const QString firstMac = demo.Fleet().Device(0).MacText();
    const QDir config(QDir(demo.DataFolder()).filePath(QStringLiteral("Config")));
    const QString before = config.filePath(firstMac + QStringLiteral(".cfg"));
    worst = std::max(worst, runCommand(QStringLiteral("read-config"), {QStringLiteral("--mac"), firstMac,
                                                                       QStringLiteral("--output"), before,
                                                                       QStringLiteral("--yes")}));
    printConfigurationHead(firstMac, QStringLiteral("before the upgrade"), before);

    // The console's main job: new firmware on every device, each keeping its configuration
    // across the factory reset that the upgrade ends with.
    worst = std::max(worst, runCommand(QStringLiteral("upgrade"), {QStringLiteral("--all"), QStringLiteral("--firmware"),
                                                                   demo.FirmwareImage(), QStringLiteral("--yes")}));
    const QString after = config.filePath(firstMac + QStringLiteral("-after-upgrade.cfg"));
    worst = std::max(worst, runCommand(QStringLiteral("read-config"), {QStringLiteral("--mac"), firstMac,
                                                                       QStringLiteral("--output"), after,
                                                                       QStringLiteral("--yes")}));
    printConfigurationHead(firstMac, QStringLiteral("after the upgrade"), after);
    const int differ = runCommand(QStringLiteral("diff"), {before, after});
    std::printf(differ == 0 ? "(no setting differs: the configuration survived the upgrade)\n"
                            : "(the settings above differ after the upgrade)\n");
    worst = std::max(worst, differ);
    // The versions the devices now report.
    worst = std::max(worst, runCommand(QStringLiteral("discover"), {}));
    std::printf("\nDemo finished (exit status %d).\n", worst);
    return worst;
}
