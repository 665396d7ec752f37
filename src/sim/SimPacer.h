#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <functional>
#include <queue>
#include <vector>

// Runs callbacks after a delay, for many transfers through one timer. Each simulated device
// waits before every ACK or DATA it sends; a timer per device, started and stopped for every
// packet, made the fleet's timer list (sorted, searched on each start and stop) its largest
// cost with hundreds of devices. Here the packets due form one heap, and one wake-up sends
// every packet that is due. The timer is a timerfd: Qt's timers count whole milliseconds,
// which would make a packet due between two of them up to a millisecond late.
class SimPacer : public QObject
{
public:
    explicit SimPacer(QObject* parent = nullptr);
    ~SimPacer() override;

    // Calls `due` delayMs from now, unless `guard` is gone by then. Callbacks due at the
    // same time run in the order they were scheduled.
    void Schedule(int delayMs, QObject* guard, std::function<void()> due);

private:
    struct Entry
    {
        qint64 dueNs = 0;
        quint64 order = 0;
        QPointer<QObject> guard;
        std::function<void()> due;
    };
    struct Later
    {
        bool operator()(const Entry& a, const Entry& b) const
        {
            return a.dueNs != b.dueNs ? a.dueNs > b.dueNs : a.order > b.order;
        }
    };

    void RunDue();
    void Arm();

    std::priority_queue<Entry, std::vector<Entry>, Later> m_entries;
    quint64 m_order = 0;
    int m_timerFd = -1;
    QSocketNotifier* m_notifier = nullptr;
    qint64 m_armedForNs = -1; // when the timer fires, or -1
};
