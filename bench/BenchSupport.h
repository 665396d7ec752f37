#pragma once

// What the benchmarks that start a simulated fleet share.
#include <QHostAddress>
#include <QUdpSocket>
#include <sys/resource.h>

// CPU time (user and system) of this process so far, in seconds.
inline double BenchCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A UDP port on 127.0.0.1 that was free a moment ago.
inline quint16 BenchFreeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
