// A burst of discovery replies against the NIMP client: how many of them survive when
// they all arrive before the client reads any, and how long decoding and the callbacks
// take. The replies are written back to back from one loopback socket while the client's
// thread is busy, as a large fleet answering one broadcast would do.
//
// usage: bench_nimp_burst [replies]   (default 2000)
// Traffic stays on 127.0.0.1.

#include "common/Wait.h"
#include "nimp/VxNIMPClient.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <cstdio>

namespace {

struct Counter
{
    int replies = 0;
    bool timedOut = false;
};

void Count(Counter* c, const VxNIMPError& error)
{
    if (error.code == NIMP_ERR_TIMEOUT)
        c->timedOut = true;
    else if (error.code == NIMP_OK)
        ++c->replies;
}

QByteArray ReplyRecords(int i)
{
    VxNIMPVarList device(NimpDiscoveryTable);
    VxNIMPResponseVarList& sub = *device.Item(0).sub;
    sub.Item(0).value = QStringLiteral("KTR-4200AP");
    sub.Item(1).value = QStringLiteral("0000AA%1").arg(i, 6, 16, QLatin1Char('0'));
    sub.Item(2).value = QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
    sub.Item(3).value = QStringLiteral("255.0.0.0");
    sub.Item(4).value = QStringLiteral("1.2.07");
    sub.Item(5).value = QStringLiteral("Access Point %1").arg(i);
    return NimpReplyRecords(device);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int replies = argc > 1 ? std::max(1, std::min(20000, atoi(argv[1]))) : 2000;

    QUdpSocket peer;
    if (!peer.bind(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot bind the peer socket\n");
        return 1;
    }
    VxNIMPClient client;
    client.SetTarget(QHostAddress::LocalHost, peer.localPort());

    Counter counter;
    client.SendRequest(QStringLiteral("FFFFFFFFFFFF"), QString(), VxNIMPVarList(NimpDiscoveryTable),
                       NIMP_CMD_DISCOVER,
                       [&counter](const VxNIMPError& e, const VxNIMPVarList&) { Count(&counter, e); },
                       nullptr, 300);
    if (!peer.waitForReadyRead(5000)) {
        std::fprintf(stderr, "no request arrived\n");
        return 1;
    }
    const QNetworkDatagram request = peer.receiveDatagram();
    NimpHeader header;
    NimpParseHeader(request.data(), &header);

    // Every reply is built before the burst so that the burst itself is only sends.
    QList<QByteArray> datagrams;
    for (int i = 0; i < replies; ++i) {
        const QByteArray mac =
            NimpMacFromText(QStringLiteral("0000AA%1").arg(i, 6, 16, QLatin1Char('0')));
        datagrams.append(NimpBuildDatagram(NIMP_CMD_DISCOVER, header.requestNumber,
                                           NIMP_STATUS_DONE, mac, ReplyRecords(i), {}));
    }
    const int64_t start = TickCount();
    int sendFailures = 0;
    for (const QByteArray& d : datagrams) {
        if (peer.writeDatagram(d, request.senderAddress(), request.senderPort()) != d.size())
            ++sendFailures;
    }
    const int64_t sent = TickCount();
    // Bounded: the Discover's own time-out (3 s) ends the collection.
    while (!counter.timedOut && counter.replies < replies && TickCount() - start < 10000)
        WaitMilliseconds(1);
    const int64_t done = TickCount();

    std::printf("receive buffer granted:   %d bytes\n", client.ReceiveBufferBytes());
    std::printf("reply size:               %lld bytes\n",
                static_cast<long long>(datagrams.first().size()));
    std::printf("burst sent in:            %lld ms (%d send failures)\n",
                static_cast<long long>(sent - start), sendFailures);
    std::printf("handled in:               %lld ms from the first send\n",
                static_cast<long long>(done - start));
    std::printf("replies delivered:        %d of %d (%d dropped)\n", counter.replies, replies,
                replies - counter.replies);
    return counter.replies == replies ? 0 : 2;
}
