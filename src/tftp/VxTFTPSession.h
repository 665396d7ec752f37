#pragma once

#include "tftp/TftpDatagramSocket.h"
#include "tftp/TftpFileAccess.h"
#include "tftp/TftpOptions.h"
#include "tftp/TftpSessionHost.h"
#include "tftp/TftpTypes.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

// One transfer of the server: its own socket (the server's transfer identifier), the
// peer's address and port (the peer's), the open file and the state machine of a read
// or a write request.
//
// Block numbers are counted in 64 bits and sent as their low 16 bits, so a file of more
// than 65,535 blocks goes through with numbers that roll over to 0, as common servers do.
// With a window (RFC 7440) a read sends up to windowSize blocks before it waits for an
// ACK, and a write acknowledges every windowSize blocks.
class VxTFTPSession : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        Active,
        Finished,
        Failed
    };

    // Where the session's file is.
    struct Target
    {
        QString folder;      // resolved to its real path when opened
        QStringList steps;   // folders below it, opened without following links
        QByteArray name;     // the file in the last of them
        bool unsafe = false; // the requested name leaves the folder: refused with ERROR 2
        qint64 maxBytes = 0; // largest file read or written (0: no limit)
    };

    VxTFTPSession(TftpSessionHost& server, const VxTFTPMsg& request, const QHostAddress& peer,
                  const QHostAddress& local, Target target, const TftpOptions& options);
    ~VxTFTPSession() override;

    // Opens the file and sends the first packet (OACK, DATA 1 or ACK 0).
    void Begin();
    // Called by the timer: resends or times out. Returns false when the session has
    // timed out (the server then removes it).
    bool CheckDeadline(int64_t now);
    // The same request again from the same peer while this session lives. A write
    // whose ACK 0 (or OACK) was lost gets it again; anything else is ignored.
    void RepeatedRequest();
    // Closes the socket and reports status 0.
    void Close(bool reportToOwner);

    bool Matches(int operation, const QString& mode, const QHostAddress& peer, quint16 peerPort,
                 const QString& fileName) const;
    const QHostAddress& Peer() const { return m_peer; }
    State state() const { return m_state; }
    bool IsBusy() const { return m_busy > 0; }
    // After a completed put: the socket, the peer and the final ACK, so that the server
    // can answer the final DATA again if that ACK is lost. Null for anything else.
    struct FinalAck
    {
        std::unique_ptr<TftpDatagramSocket> socket;
        sockaddr_in peer{};
        char ack[4]{};
    };
    std::unique_ptr<FinalAck> TakeFinalAck();
    const VxTFTPMsg& Msg() const { return m_msg; }
    void Report(int status);
    // Takes in what arrived on the session's socket.
    void ReadPackets();
    // Called once when the session stops counting toward the limits: when it ends
    // (succeeds or fails) or is destroyed.
    void SetSlotRelease(std::function<void()> release) { m_releaseSlot = std::move(release); }
    // Called once, with the final status, when the transfer completes or fails.
    void SetEndHook(std::function<void(int status)> hook) { m_endHook = std::move(hook); }

private:
    void unwatch();
    void handlePacket(const char* data, qint64 size, qint64 fullSize);
    void handleAck(int block);
    void handleData(int block, const char* payload, qint64 length, qint64 fullLength);
    void beginRead(TftpFolder folder, TftpOpenError error);
    void beginWrite(TftpFolder folder, TftpOpenError error);
    void fail(int errorCode, int status, const char* text = "");
    // Reads: sends blocks from `first` up to the end of the window after the last
    // acknowledged one; blocks sent before count as resent.
    bool sendWindow(int64_t first);
    bool sendBlock(int64_t block);
    bool unchangedSinceOpened() const;
    int64_t blockLength(int64_t block) const;
    const char* cached(qint64 offset, qint64 length);
    bool sendAck(int64_t block);
    bool sendControl(); // the last OACK or ACK, again
    bool sendError(int code, const sockaddr_in& to, const char* text = "");
    bool sent(bool ok, bool temporary);
    void armDeadline();
    void closeFile();
    void releaseSlot();

    TftpSessionHost& m_server;
    std::function<void()> m_releaseSlot;
    std::function<void(int status)> m_endHook;
    VxTFTPMsg m_msg;
    QHostAddress m_peer;
    sockaddr_in m_peerAddress{};
    Target m_target;
    TftpOptions m_options;
    int64_t m_timeoutMs = 0;
    VxTFTPCallback m_callback;
    std::unique_ptr<TftpDatagramSocket> m_socket;
    bool m_socketOk = false;
    uint64_t m_watchKey = 0; // the server's key of this socket, 0 when not watched there
    bool m_cancel = false;
    State m_state = State::Active;
    int m_busy = 0;
    bool m_fileOpen = false;
    int64_t m_deadline = 0;
    QByteArray m_control; // the last OACK or ACK sent

    // Reads. The file is read ahead into a cache that starts at one window and grows as
    // the peer keeps up, so a request that is never answered holds one window of memory.
    int m_readFd = -1;
    qint64 m_fileSize = 0;
    // Size and modification time when opened: a read that finds them changed ends in an error.
    struct FileStamp
    {
        qint64 size = -1;
        qint64 seconds = 0;
        qint64 nanoseconds = 0;
        bool operator==(const FileStamp&) const = default;
    };
    FileStamp m_openedStamp;
    int64_t m_finalBlock = 0;        // the last block, shorter than the block size (maybe empty)
    int64_t m_acked = 0;             // the last block acknowledged
    int64_t m_sent = 0;              // the last block sent
    bool m_optionAckPending = false; // an OACK waits for ACK 0
    std::unique_ptr<char[]> m_cache;
    qint64 m_cacheCapacity = 0;
    qint64 m_cacheOffset = 0;
    qint64 m_cacheLength = 0;

    // Writes: received into a temporary file beside the target, renamed into place when
    // the last block has arrived, so a failed put leaves the old file.
    std::unique_ptr<TftpAtomicFile> m_writeFile;
    int64_t m_received = 0; // blocks received in order
    int64_t m_lastAck = 0;  // the block acknowledged last
    bool m_gapAcked = false;
};
