// How fast one socket of the simulated fleet answers a Discover to 2,000 devices, and
// whether every reply arrives. Loopback only.

#include "common/Wait.h"
#include "nimp/VxNIMPWire.h"
#include "sim/Ktr4200Fleet.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QSet>
#include <QUdpSocket>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int devices = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    Ktr4200FleetOptions options;
    options.bindAddress = QHostAddress(QHostAddress::LocalHost);
    options.port = 0;
    options.deviceCount = devices;
    Ktr4200Fleet fleet(options);
    if (!fleet.Start()) {
        std::fprintf(stderr, "%s\n", qPrintable(fleet.ErrorString()));
        return 1;
    }
    QUdpSocket console;
    console.bind(QHostAddress::LocalHost, 0);
    console.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);

    const int rounds = 5;
    for (int round = 0; round < rounds; ++round) {
        QSet<QByteArray> macs;
        const int64_t start = TickCount();
        console.writeDatagram(NimpBuildDatagram(NIMP_CMD_DISCOVER, uint8_t(round), 0, NimpBroadcastMac, {}, {}),
                              QHostAddress::LocalHost, fleet.Port());
        int64_t last = start;
        while (macs.size() < devices && TickCount() - last < 1000) {
            if (!console.hasPendingDatagrams()) {
                WaitMilliseconds(1);
                continue;
            }
            while (console.hasPendingDatagrams())
                macs.insert(console.receiveDatagram().data().mid(NimpOffsetMac, NimpMacSize));
            last = TickCount();
        }
        std::printf("round %d: %lld of %d replies in %lld ms\n", round, static_cast<long long>(macs.size()), devices,
                    static_cast<long long>(last - start));
    }
    fleet.Stop();
    return 0;
}
