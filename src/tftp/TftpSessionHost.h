#pragma once

#include "tftp/TftpTypes.h"

#include <cstdint>

class VxTFTPSession;

// The largest datagram a session receives: a DATA block of the largest size and its header.
inline constexpr qint64 TftpReceiveBufferSize = 65536 + 4;

// What a session needs of the server that made it.
class TftpSessionHost
{
public:
    virtual ~TftpSessionHost() = default;

    // The owner's callback, for every report of the session.
    virtual const VxTFTPCallback& SessionCallback() const = 0;
    // How many times a DATA block or window is sent at most.
    virtual int SessionTransmissions() const = 0;
    // Watches the session's socket with the others; returns its key, 0 when it cannot be
    // watched this way (the session then reads on its own).
    virtual uint64_t WatchSession(VxTFTPSession& session, int descriptor) = 0;
    virtual void UnwatchSession(uint64_t key, int descriptor) = 0;
    // A receive buffer of TftpReceiveBufferSize bytes shared by every session of the server
    // (they all run on one thread and none keeps a packet after handling it).
    virtual char* SessionReceiveBuffer() = 0;
};
