#pragma once

#include <QByteArray>
#include <QtGlobal>

// The options a client may add to its request (RFC 2347) and what this server agrees to:
// `blksize` (RFC 2348), `tsize` and `timeout` (RFC 2349), `windowsize` (RFC 7440). Unknown
// options and values out of range are ignored; a request that asks for nothing usable is
// served exactly as RFC 1350 describes (no OACK).
struct TftpOptions
{
    static constexpr int DefaultBlockSize = 512;
    static constexpr int MinBlockSize = 8;
    static constexpr int MaxBlockSize = 65464;
    // A block that fits one Ethernet frame with its IP and UDP headers: the cap for peers
    // that are not on this machine, so that no block is fragmented.
    static constexpr int MaxLanBlockSize = 1468;
    static constexpr int MaxWindowSize = 64;

    int blockSize = DefaultBlockSize;
    int windowSize = 1;
    int timeoutSeconds = 0;   // 0: the server's own time-out
    qint64 transferSize = -1; // -1: not asked; a read answers the file's size
    bool askedBlockSize = false;
    bool askedWindowSize = false;
    bool askedTransferSize = false;

    bool Any() const
    {
        return askedBlockSize || askedWindowSize || askedTransferSize || timeoutSeconds > 0;
    }

    // Reads the name and value pairs that follow the mode of a request (data[from..size)).
    // loopbackPeer lifts the block size cap of a LAN peer.
    static TftpOptions Negotiate(const char* data, qint64 size, qint64 from, bool loopbackPeer);
    // The OACK packet that confirms the agreed options (tsize: the file's size for a read,
    // the announced size for a write).
    QByteArray OptionAck() const;
};
