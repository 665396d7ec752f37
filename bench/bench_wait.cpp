// CPU cost of an event-loop wait while socket and timer events keep arriving, against a
// reference loop that spins on processEvents() for a shorter time.
//
// usage: bench_wait [seconds]   (default 10; the reference spin runs 1 s)
// Traffic stays on 127.0.0.1.

#include "common/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>
#include <ctime>

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Traffic
{
    QUdpSocket receiver;
    QUdpSocket sender;
    QTimer ticker;
    int datagrams = 0;
    int ticks = 0;

    bool Start()
    {
        if (!receiver.bind(QHostAddress::LocalHost, 0))
            return false;
        QObject::connect(&receiver, &QUdpSocket::readyRead, [this] {
            while (receiver.hasPendingDatagrams()) {
                char buf[64];
                receiver.readDatagram(buf, sizeof buf);
                ++datagrams;
            }
        });
        QObject::connect(&ticker, &QTimer::timeout, [this] {
            ++ticks;
            sender.writeDatagram("tick", 4, QHostAddress::LocalHost, receiver.localPort());
        });
        ticker.start(100);
        return true;
    }

    void Reset() { datagrams = ticks = 0; }
};

struct Figures
{
    double wall;
    double cpu;
    int ticks;
    int datagrams;
};

template <typename F> Figures Measure(Traffic& traffic, F&& body)
{
    traffic.Reset();
    QElapsedTimer wall;
    const double cpu0 = ProcessCpuSeconds();
    wall.start();
    body();
    const double cpu = ProcessCpuSeconds() - cpu0;
    return {wall.nsecsElapsed() / 1e9, cpu, traffic.ticks, traffic.datagrams};
}

void Print(const char* name, const Figures& f)
{
    std::printf("%-22s wall %7.3f s  cpu %7.4f s  timer events %4d  datagrams %4d\n", name, f.wall,
                f.cpu, f.ticks, f.datagrams);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 10;
    if (argc > 1)
        seconds = std::max(1, std::min(60, std::atoi(argv[1])));

    Traffic traffic;
    if (!traffic.Start()) {
        std::fprintf(stderr, "cannot bind a UDP socket on 127.0.0.1\n");
        return 2;
    }

    const Figures wait = Measure(traffic, [&] { WaitSeconds(seconds); });
    const Figures spin = Measure(traffic, [] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1000)
            QCoreApplication::processEvents();
    });
    traffic.ticker.stop();

    char label[32];
    std::snprintf(label, sizeof label, "WaitSeconds(%d)", seconds);
    Print(label, wait);
    Print("processEvents spin 1 s", spin);
    const double budget = 0.1 * seconds / 10.0;
    const bool delivered = wait.ticks >= seconds * 10 - 2 && wait.datagrams >= seconds * 10 - 2;
    const bool cheap = wait.cpu < budget;
    std::printf("events delivered during the wait: %s; cpu target %.3f s: %s\n",
                delivered ? "yes" : "NO", budget, cheap ? "met" : "MISSED");
    std::printf("wait_cpu_seconds %.4f\n", wait.cpu);
    return delivered && cheap ? 0 : 1;
}
