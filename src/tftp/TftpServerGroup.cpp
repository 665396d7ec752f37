#include "tftp/TftpServerGroup.h"

namespace {
constexpr int kReportMemory = 1024;
}

bool TftpServerGroup::ClaimPort()
{
    std::lock_guard lock(m_mutex);
    const bool first = !m_portClaimed;
    m_portClaimed = true;
    return first;
}

bool TftpServerGroup::TakeSlot(quint32 peer, bool exempt, int maxTotal, int maxPerPeer)
{
    std::lock_guard lock(m_mutex);
    if (m_total >= maxTotal)
        return false;
    if (!exempt) {
        if (m_perPeer.value(peer) >= maxPerPeer)
            return false;
        ++m_perPeer[peer];
    }
    ++m_total;
    return true;
}

void TftpServerGroup::GiveSlot(quint32 peer, bool exempt)
{
    std::lock_guard lock(m_mutex);
    --m_total;
    if (exempt)
        return;
    const auto it = m_perPeer.find(peer);
    if (it != m_perPeer.end() && --it.value() <= 0)
        m_perPeer.erase(it);
}

int TftpServerGroup::Sessions() const
{
    std::lock_guard lock(m_mutex);
    return m_total;
}

bool TftpServerGroup::FirstReport(const QString& key)
{
    std::lock_guard lock(m_mutex);
    return m_reported.First(key);
}

bool TftpReportMemory::First(const QString& key)
{
    if (m_seen.contains(key))
        return false;
    if (m_seen.size() >= kReportMemory)
        m_seen.clear();
    m_seen.insert(key);
    return true;
}
