#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QtGlobal>
#include <mutex>

// Refusals already reported, so that a flood makes one line per peer and name. Bounded:
// when full it starts over.
class TftpReportMemory
{
public:
    // True the first time `key` is seen.
    bool First(const QString& key);

private:
    QSet<QString> m_seen;
};

// What the servers of one port share when each runs on a thread of its own (the
// stand-alone server's workers; the kernel spreads the requests over their sockets):
// the session limits, counted over all of them, and the refusals already reported, so
// that a flood makes one line per peer and name whichever thread it reaches.
// Thread-safe.
class TftpServerGroup
{
public:
    // True for the first caller only: that server checks that no other program has the
    // port before the group binds it; the others join.
    bool ClaimPort();

    // Takes a session slot for peer (IPv4, host order); false when the total or, unless
    // exempt, the peer's own count is at its limit. Every slot taken is given back once.
    bool TakeSlot(quint32 peer, bool exempt, int maxTotal, int maxPerPeer);
    void GiveSlot(quint32 peer, bool exempt);
    int Sessions() const;

    // True the first time `key` is seen. Bounded: when full it starts over.
    bool FirstReport(const QString& key);

private:
    mutable std::mutex m_mutex;
    bool m_portClaimed = false;
    int m_total = 0;
    QHash<quint32, int> m_perPeer;
    TftpReportMemory m_reported;
};
