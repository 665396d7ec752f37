// The console window: time from the start of the program to a shown main window, and the
// resident memory of the window with 1,000 discovered devices listed (simulated fleet on
// 127.0.0.1). Runs offscreen.
#include "app/AppCore.h"
#include "app/ui/TMainForm.h"
#include "common/Wait.h"
#include "sim/Ktr4200Fleet.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <cstdio>

namespace {
long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    QElapsedTimer clock;
    clock.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int devices = 1000;

    Ktr4200FleetOptions options;
    options.bindAddress = QHostAddress::LocalHost;
    options.port = 0;
    options.deviceCount = devices;
    Ktr4200Fleet fleet(options);
    if (!fleet.Start()) {
        std::fprintf(stderr, "fleet: %s\n", qPrintable(fleet.ErrorString()));
        return 1;
    }
    QTemporaryDir dir;
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    QFile ini(QDir(dir.path()).filePath(QStringLiteral("system.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[System]\nNimpAddress=127.0.0.1\nNimpPort=" + QByteArray::number(fleet.Port()) +
              "\nTftpPort=" + QByteArray::number(probe.localPort()) + "\nDiscoveryTimeout=3\n");
    ini.close();
    probe.close();

    const qint64 beforeWindow = clock.elapsed();
    QElapsedTimer windowClock;
    windowClock.start();
    TMainForm window(dir.path());
    window.show();
    QCoreApplication::processEvents();
    const qint64 shownMs = windowClock.elapsed();
    const long idleKb = residentKb();

    window.TB_DiscoverClick();
    WaitMilliseconds(300);
    const int listed = window.Core().Devices().Count();
    const long listedKb = residentKb();
    std::printf("program start to QApplication and fleet: %lld ms\n", static_cast<long long>(beforeWindow));
    std::printf("main window created and shown: %lld ms\n", static_cast<long long>(shownMs));
    std::printf("resident memory, window shown, empty list: %ld kB\n", idleKb);
    std::printf("devices listed: %d of %d\n", listed, devices);
    std::printf("resident memory with the list filled: %ld kB (the in-process fleet included)\n", listedKb);
    fleet.Stop();
    return listed == devices ? 0 : 1;
}
