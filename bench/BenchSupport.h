#pragma once

// What the benchmarks that start a simulated fleet share.
#include <QHostAddress>
#include <QFile>
#include <QUdpSocket>
#include <sys/resource.h>
#include <unistd.h>

// CPU time (user and system) of this process so far, in seconds.
inline double BenchCpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The CPU time (user + system, seconds) another process of ours has used so far; 0 when it
// cannot be read.
inline double BenchProcessCpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
}

// A UDP port on 127.0.0.1 that was free a moment ago.
inline quint16 BenchFreeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}
