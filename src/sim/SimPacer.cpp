#include "sim/SimPacer.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

qint64 NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

SimPacer::SimPacer(QObject* parent) : QObject(parent)
{
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0)
        qFatal("ktr4200-sim: timerfd_create: %s", strerror(errno));
    m_notifier = new QSocketNotifier(m_timerFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        quint64 expirations = 0;
        [[maybe_unused]] const auto n = ::read(m_timerFd, &expirations, sizeof expirations);
        m_armedForNs = -1;
        RunDue();
    });
}

SimPacer::~SimPacer()
{
    delete m_notifier;
    ::close(m_timerFd);
}

void SimPacer::Schedule(int delayMs, QObject* guard, std::function<void()> due)
{
    m_entries.push(Entry{NowNs() + qint64(std::max(0, delayMs)) * 1'000'000, m_order++, guard,
                         std::move(due)});
    Arm();
}

void SimPacer::RunDue()
{
    // Bounded by what is queued now: a callback that schedules again is due a delay later.
    const qint64 now = NowNs();
    for (size_t left = m_entries.size(); left > 0 && !m_entries.empty(); --left) {
        if (m_entries.top().dueNs > now)
            break;
        Entry entry = std::move(const_cast<Entry&>(m_entries.top()));
        m_entries.pop();
        if (entry.guard)
            entry.due();
    }
    Arm();
}

void SimPacer::Arm()
{
    if (m_entries.empty())
        return;
    const qint64 next = m_entries.top().dueNs;
    if (m_armedForNs >= 0 && m_armedForNs <= next)
        return;
    // An absolute time: a moment already past fires at once.
    itimerspec at{};
    at.it_value.tv_sec = time_t(std::max<qint64>(next, 1) / 1'000'000'000);
    at.it_value.tv_nsec = long(std::max<qint64>(next, 1) % 1'000'000'000);
    if (timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &at, nullptr) == 0)
        m_armedForNs = next;
}
