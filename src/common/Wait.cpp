#include "common/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

int64_t TickCount()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    // Offset so that a fresh process never hands out tick 0 (0 is "no deadline").
    return clock.elapsed() + 1;
}

void WaitMilliseconds(int64_t ms)
{
    if (ms <= 0 || !QCoreApplication::instance()) {
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(int(std::min<int64_t>(ms, INT32_MAX)));
    loop.exec();
}

void Wait(int centiseconds)
{
    WaitMilliseconds(int64_t(centiseconds) * 10);
}

void WaitSeconds(int seconds)
{
    WaitMilliseconds(int64_t(seconds) * 1000);
}
