// The fleet's socket must keep receiving while requests arrive from another process at any
// moment, including between two checks of its read handler.
#include "SimFleetFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Sends count datagrams to 127.0.0.1:port in small bursts with short pauses, so that many of
// them land while the fleet is inside its read handler.
void SendBursts(quint16 port, const QByteArray& datagram, int count, std::atomic<int>* sent,
                std::atomic<bool>* done)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        if (::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to) == datagram.size())
            sent->fetch_add(1);
        if (i % 3 == 2)
            std::this_thread::sleep_for(std::chrono::microseconds(40 + (i * 7) % 60));
    }
    ::close(fd);
    done->store(true);
}

} // namespace

TEST_F(SimFleetFixture, KeepsReceivingUnderConcurrentRequests)
{
    StartFleet(LoopbackOptions(1));
    // A Get of one device: one short reply each, so the fleet's handler stays quick.
    const QByteArray request = Request(NIMP_CMD_GET, 1, Mac(0), Record(Ktr4200Fleet::VarModelName, {}));
    std::atomic<int> sent{0};
    constexpr int Rounds = 8;
    constexpr int PerRound = 1500;
    for (int round = 0; round < Rounds; ++round) {
        std::atomic<bool> done{false};
        std::thread sender(SendBursts, fleet->Port(), request, PerRound, &sent, &done);
        // The event loop runs (and the fleet reads) while the other thread sends.
        WaitUntil([&] { return done.load(); }, 20000);
        sender.join();
        ASSERT_TRUE(WaitUntil([&] { return fleet->DatagramsReceived() == sent.load(); }, 3000))
            << "round " << round << ": the fleet took " << fleet->DatagramsReceived() << " of "
            << sent.load() << " datagrams and stopped reading";
    }
    // And a console request after the flood is still answered.
    while (console.hasPendingDatagrams())
        console.receiveDatagram();
    EXPECT_FALSE(Exchange(request).isEmpty());
}
