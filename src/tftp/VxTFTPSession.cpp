#include "tftp/VxTFTPSession.h"

#include "common/Wait.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* ChangedText = "File changed while it was read";

enum Opcode : quint16
{
    OP_RRQ = 1,
    OP_WRQ = 2,
    OP_DATA = 3,
    OP_ACK = 4,
    OP_ERROR = 5,
    OP_OACK = 6
};
// RFC 1350 error codes.
enum TftpErrorCode : quint16
{
    ERR_NOT_DEFINED = 0,
    ERR_FILE_NOT_FOUND = 1,
    ERR_ACCESS_VIOLATION = 2,
    ERR_DISK_FULL = 3,
    ERR_ILLEGAL_OPERATION = 4,
    ERR_UNKNOWN_TID = 5,
};

// The most a read session's cache holds.
constexpr qint64 kReadAhead = 256 * 1024;
constexpr int kControlBuffer = 1024; // ACK and ERROR packets of a read session's peer

void put16(char* at, quint16 v)
{
    at[0] = char(v >> 8);
    at[1] = char(v & 0xFF);
}

quint16 get16(const char* at)
{
    return quint16((quint8(at[0]) << 8) | quint8(at[1]));
}

} // namespace

VxTFTPSession::VxTFTPSession(TftpSessionHost& server, const VxTFTPMsg& request,
                             const QHostAddress& peer, const QHostAddress& local, Target target,
                             const TftpOptions& options)
    : m_server(server), m_msg(request), m_peer(peer), m_target(std::move(target)),
      m_options(options), m_callback(server.SessionCallback())
{
    m_msg.bytes = 0;
    m_msg.blockSize = -1;
    m_msg.transmissions = 0;
    m_msg.agreedBlockSize = options.blockSize;
    m_msg.windowSize = options.windowSize;
    if (options.timeoutSeconds > 0)
        m_msg.timeout = options.timeoutSeconds * 100;
    m_timeoutMs = int64_t(m_msg.timeout) * 10;
    Report(TFTP_CONNECTED);

    m_peerAddress = TftpDatagramSocket::Address(peer, quint16(m_msg.peerPort));
    m_socket = std::make_unique<TftpDatagramSocket>();
    m_socketOk = m_socket->Bind(local, 0);
    if (!m_socketOk) {
        Report(TFTP_SOCKET_ERROR);
        return;
    }
    // The server watches every session's socket through one descriptor; should that fail,
    // the socket's own notifier stays on.
    connect(m_socket.get(), &TftpDatagramSocket::readyRead, this, &VxTFTPSession::ReadPackets);
    m_watchKey = server.WatchSession(*this, m_socket->Descriptor());
    if (m_watchKey != 0)
        m_socket->SetNotifying(false);
}

VxTFTPSession::~VxTFTPSession()
{
    closeFile();
    unwatch();
    releaseSlot();
}

void VxTFTPSession::releaseSlot()
{
    if (auto release = std::exchange(m_releaseSlot, nullptr))
        release();
}

void VxTFTPSession::unwatch()
{
    if (m_watchKey != 0 && m_socket)
        m_server.UnwatchSession(m_watchKey, m_socket->Descriptor());
    m_watchKey = 0;
}

bool VxTFTPSession::Matches(int operation, const QString& mode, const QHostAddress& peer,
                            quint16 peerPort, const QString& fileName) const
{
    return m_msg.operation == operation && m_msg.mode == mode && m_peer == peer &&
           m_msg.peerPort == peerPort && m_msg.fileName == fileName;
}

void VxTFTPSession::Report(int status)
{
    ++m_busy;
    m_msg.status = status;
    m_msg.message = VxTFTPStatusMessage(status);
    if (m_callback)
        m_callback(m_msg, &m_cancel);
    if (status == TFTP_SUCCESS) {
        closeFile();
        m_state = State::Finished;
        releaseSlot();
    } else if (status < 0) {
        closeFile();
        m_state = State::Failed;
        releaseSlot();
    }
    if (status == TFTP_SUCCESS || status < 0)
        if (auto hook = std::exchange(m_endHook, nullptr))
            hook(status);
    --m_busy;
}

void VxTFTPSession::fail(int errorCode, int status, const char* text)
{
    sendError(errorCode, m_peerAddress, text);
    Report(status);
}

void VxTFTPSession::Begin()
{
    if (m_state != State::Active)
        return;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    if (m_target.unsafe) {
        fail(ERR_ACCESS_VIOLATION, TFTP_ACCESS_VIOLATION);
        return;
    }
    TftpOpenError error = TftpOpenError::None;
    TftpFolder folder = TftpFolder::Open(m_target.folder, m_target.steps, &error);
    if (m_msg.operation == TFTP_OP_READ)
        beginRead(std::move(folder), error);
    else
        beginWrite(std::move(folder), error);
}

void VxTFTPSession::beginRead(TftpFolder folder, TftpOpenError error)
{
    if (folder.IsOpen())
        m_readFd = folder.OpenForReading(m_target.name, &m_fileSize, &error);
    if (m_readFd < 0) {
        // Only a name that is not there is "not found"; a link or anything but a regular
        // file is refused as an access violation.
        if (error == TftpOpenError::NotFound)
            fail(ERR_FILE_NOT_FOUND, TFTP_FILE_NOT_FOUND);
        else
            fail(ERR_ACCESS_VIOLATION, TFTP_ACCESS_VIOLATION);
        return;
    }
    m_fileOpen = true;
    struct stat opened{};
    if (::fstat(m_readFd, &opened) == 0)
        m_openedStamp = {opened.st_size, opened.st_mtim.tv_sec, opened.st_mtim.tv_nsec};
    if (m_target.maxBytes > 0 && m_fileSize > m_target.maxBytes) {
        fail(ERR_NOT_DEFINED, TFTP_FILE_TOO_LARGE, "File too large");
        return;
    }
    // A file of a whole number of blocks ends with an empty one.
    m_finalBlock = m_fileSize / m_options.blockSize + 1;
    m_msg.transmissions = 1;
    if (m_options.Any()) {
        // RFC 2347: the OACK takes the place of DATA 1 and waits for ACK 0.
        m_options.transferSize = m_fileSize;
        m_control = m_options.OptionAck();
        m_optionAckPending = true;
        if (!sendControl())
            return;
    } else if (!sendWindow(1)) {
        return;
    }
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::beginWrite(TftpFolder folder, TftpOpenError error)
{
    if (!folder.IsOpen()) {
        fail(ERR_ACCESS_VIOLATION, TFTP_ACCESS_VIOLATION);
        return;
    }
    // RFC 2349: a write that announces a size too large is refused before it starts.
    if (m_options.askedTransferSize && m_target.maxBytes > 0 &&
        m_options.transferSize > m_target.maxBytes) {
        fail(ERR_DISK_FULL, TFTP_FILE_TOO_LARGE, "File too large");
        return;
    }
    m_writeFile = std::make_unique<TftpAtomicFile>();
    if (!m_writeFile->Begin(std::move(folder), m_target.name, &error)) {
        m_writeFile.reset();
        fail(ERR_ACCESS_VIOLATION, TFTP_ACCESS_VIOLATION);
        return;
    }
    m_fileOpen = true;
    if (m_options.Any()) {
        m_control = m_options.OptionAck(); // in the place of ACK 0
        if (!sendControl())
            return;
    } else if (!sendAck(0)) {
        return;
    }
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::RepeatedRequest()
{
    if (m_state != State::Active || !m_fileOpen || m_msg.operation != TFTP_OP_WRITE ||
        m_received != 0)
        return;
    // The peer asks again because our ACK 0 (or OACK) went astray: without it the put
    // cannot start.
    if (!sendControl())
        return;
    ++m_msg.blocksResent;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::ReadPackets()
{
    if (!m_socket)
        return;
    ++m_busy;
    // A window arrives as a burst: take in up to one window per notification. In
    // lock-step there is one datagram; the socket is reported again at once when there are
    // more. At least one is always read, so a session that has ended does not keep its
    // socket ready (and the event loop spinning) until it is removed.
    char control[kControlBuffer];
    const bool writing = m_msg.operation == TFTP_OP_WRITE;
    char* buffer = writing ? m_server.SessionReceiveBuffer() : control;
    const qint64 capacity = writing ? TftpReceiveBufferSize : qint64(sizeof control);
    for (int i = 0; i < m_options.windowSize; ++i) {
        sockaddr_in from{};
        qint64 fullSize = 0;
        const qint64 size = m_socket->Receive(buffer, capacity, &from, &fullSize);
        if (size < 0)
            break;
        if (size < 4 || !m_fileOpen) // a closed file: finished or failed, waiting to be removed
            continue;
        if (!TftpDatagramSocket::SameAddress(from, m_peerAddress)) {
            // Someone else's packet: tell them, and leave this transfer alone.
            sendError(ERR_UNKNOWN_TID, from);
            continue;
        }
        handlePacket(buffer, size, fullSize);
    }
    --m_busy;
}

void VxTFTPSession::handlePacket(const char* data, qint64 size, qint64 fullSize)
{
    const quint16 opcode = get16(data);
    const int block = get16(data + 2);
    if (opcode == OP_ERROR) {
        // The peer gives up (or refuses our options): nothing more is sent to it.
        Report(TFTP_PEER_ERROR);
    } else if (m_msg.operation == TFTP_OP_READ && opcode == OP_ACK) {
        handleAck(block);
    } else if (m_msg.operation == TFTP_OP_WRITE && opcode == OP_DATA) {
        handleData(block, data + 4, size - 4, fullSize - 4);
    }
    // Any other kind is ignored.
}

void VxTFTPSession::handleAck(int block)
{
    if (m_optionAckPending) {
        if (block != 0)
            return;
        m_optionAckPending = false;
        m_deadline = 0;
        if (m_cancel) {
            Report(TFTP_CANCELED);
            return;
        }
        m_msg.transmissions = 1;
        if (!sendWindow(1))
            return;
        armDeadline();
        Report(TFTP_TRANSFERRING);
        return;
    }
    // Only a block in flight counts; a duplicate ACK never causes a resend, which would
    // start the duplicate-packet cascade of RFC 1350's sorcerer's apprentice.
    int64_t acked = 0;
    for (int64_t b = m_sent; b > m_acked; --b) {
        if ((b & 0xFFFF) == block) {
            acked = b;
            break;
        }
    }
    if (acked == 0)
        return;
    m_deadline = 0;
    m_acked = acked;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    if (acked == m_finalBlock) {
        Report(TFTP_SUCCESS);
        return;
    }
    // An ACK inside the window (RFC 7440: the peer missed the next block) restarts the
    // window after it.
    m_msg.transmissions = 1;
    if (!sendWindow(acked + 1))
        return;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::handleData(int block, const char* payload, qint64 length, qint64 fullLength)
{
    if (fullLength > m_options.blockSize) {
        // Never cut and taken: a block over the agreed size is a broken transfer.
        fail(ERR_ILLEGAL_OPERATION, TFTP_ILLEGAL_PACKET);
        return;
    }
    const int64_t expected = m_received + 1;
    const int offset = qint16(quint16(block - (expected & 0xFFFF)));
    if (offset < 0) {
        // A block we have. When it is the one we acknowledged last, our ACK was lost and
        // the peer sent the block (or the window) again: acknowledge it again, or the
        // put dies at the time-out.
        if (m_lastAck > 0 && block == (m_lastAck & 0xFFFF)) {
            if (!sendControl())
                return;
            ++m_msg.blocksResent;
            armDeadline();
            Report(TFTP_TRANSFERRING);
        }
        return;
    }
    if (offset > 0) {
        // A block of the window is missing (RFC 7440): acknowledge the last one in order,
        // once, so that the peer sends again from there.
        if (m_options.windowSize > 1 && !m_gapAcked) {
            m_gapAcked = true;
            if (!sendAck(m_received))
                return;
            armDeadline();
            Report(TFTP_TRANSFERRING);
        }
        return;
    }
    m_deadline = 0;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    if (m_target.maxBytes > 0 && m_msg.bytes + length > m_target.maxBytes) {
        fail(ERR_DISK_FULL, TFTP_FILE_TOO_LARGE, "File too large");
        return;
    }
    if (length > 0 && !m_writeFile->Write(payload, length)) {
        fail(ERR_DISK_FULL, TFTP_FILE_IO_ERROR);
        return;
    }
    m_received = expected;
    m_gapAcked = false;
    m_msg.blockSize = int(length);
    m_msg.bytes += length;
    if (length < m_options.blockSize) {
        const bool committed = m_writeFile->Commit();
        m_writeFile.reset();
        if (!committed) {
            fail(ERR_DISK_FULL, TFTP_FILE_IO_ERROR);
            return;
        }
        if (!sendAck(expected))
            return;
        Report(TFTP_SUCCESS);
        return;
    }
    if (expected - m_lastAck >= m_options.windowSize) {
        if (!sendAck(expected))
            return;
        armDeadline();
        Report(TFTP_TRANSFERRING);
        return;
    }
    armDeadline();
}

bool VxTFTPSession::CheckDeadline(int64_t now)
{
    if (m_state != State::Active || m_deadline == 0 || m_deadline >= now)
        return true;
    if (m_msg.operation == TFTP_OP_READ && m_msg.transmissions < m_server.SessionTransmissions()) {
        if (m_optionAckPending) {
            if (!sendControl())
                return true;
        } else {
            // The whole window again: RFC 7440 resends from the first unacknowledged block.
            if (!sendWindow(m_acked + 1))
                return true;
        }
        ++m_msg.transmissions;
        armDeadline();
        Report(TFTP_TRANSFERRING);
        return true;
    }
    return false;
}

void VxTFTPSession::Close(bool reportToOwner)
{
    closeFile();
    unwatch();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->Close();
    }
    if (reportToOwner)
        Report(TFTP_DISCONNECTED);
    else
        m_callback = nullptr;
}

std::unique_ptr<VxTFTPSession::FinalAck> VxTFTPSession::TakeFinalAck()
{
    if (m_state != State::Finished || m_msg.operation != TFTP_OP_WRITE || !m_socketOk ||
        !m_socket || m_control.size() != 4)
        return nullptr;
    auto f = std::make_unique<FinalAck>();
    unwatch();
    m_socket->disconnect(this);
    f->socket = std::move(m_socket);
    f->peer = m_peerAddress;
    std::memcpy(f->ack, m_control.constData(), sizeof f->ack);
    m_socketOk = false;
    return f;
}

int64_t VxTFTPSession::blockLength(int64_t block) const
{
    const qint64 offset = (block - 1) * m_options.blockSize;
    return std::clamp<qint64>(m_fileSize - offset, 0, m_options.blockSize);
}

bool VxTFTPSession::sendWindow(int64_t first)
{
    const int64_t last = std::min(m_acked + m_options.windowSize, m_finalBlock);
    for (int64_t block = first; block <= last; ++block) {
        if (!sendBlock(block))
            return false;
        if (block <= m_sent)
            ++m_msg.blocksResent;
    }
    m_sent = std::max(m_sent, last);
    m_msg.blockSize = int(blockLength(m_sent));
    m_msg.bytes = std::min<qint64>(m_sent * m_options.blockSize, m_fileSize);
    return true;
}

const char* VxTFTPSession::cached(qint64 offset, qint64 length)
{
    if (offset >= m_cacheOffset && offset + length <= m_cacheOffset + m_cacheLength)
        return m_cache.get() + (offset - m_cacheOffset);
    // The first fill holds one window; each later one twice the last, up to the read-ahead.
    const qint64 window = qint64(m_options.windowSize) * m_options.blockSize;
    const qint64 capacity =
        m_cacheCapacity == 0 ? window : std::max(window, std::min(m_cacheCapacity * 2, kReadAhead));
    if (capacity > m_cacheCapacity) {
        m_cache.reset(new char[size_t(capacity)]);
        m_cacheCapacity = capacity;
    }
    const qint64 want = std::min(m_cacheCapacity, m_fileSize - offset);
    qint64 got = 0;
    while (got < want) {
        const ssize_t n = ::pread(m_readFd, m_cache.get() + got, size_t(want - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    m_cacheOffset = offset;
    m_cacheLength = got;
    if (!unchangedSinceOpened())
        return nullptr;
    // Shorter than the size seen at the start: the file shrank under us, and the peer
    // must not take a truncated file for a complete one.
    return got >= length ? m_cache.get() : nullptr;
}

bool VxTFTPSession::unchangedSinceOpened() const
{
    struct stat now{};
    return ::fstat(m_readFd, &now) == 0 &&
           FileStamp{now.st_size, now.st_mtim.tv_sec, now.st_mtim.tv_nsec} == m_openedStamp;
}

bool VxTFTPSession::sendBlock(int64_t block)
{
    const qint64 length = blockLength(block);
    const char* data = "";
    if (length > 0) {
        data = cached((block - 1) * m_options.blockSize, length);
        if (!data) {
            fail(ERR_NOT_DEFINED, TFTP_FILE_IO_ERROR, unchangedSinceOpened() ? "" : ChangedText);
            return false;
        }
    }
    // A file written while it is read would reach the peer spliced, old bytes and new, and
    // look complete: the last block goes only when the file is still what was opened.
    if (block == m_finalBlock && !unchangedSinceOpened()) {
        fail(ERR_NOT_DEFINED, TFTP_FILE_IO_ERROR, ChangedText);
        return false;
    }
    char head[4];
    put16(head, OP_DATA);
    put16(head + 2, quint16(block & 0xFFFF));
    bool temporary = false;
    const bool ok = m_socketOk && m_socket->Send(head, 4, data, length, m_peerAddress, &temporary);
    return sent(ok, temporary);
}

bool VxTFTPSession::sendAck(int64_t block)
{
    m_control.resize(4);
    put16(m_control.data(), OP_ACK);
    put16(m_control.data() + 2, quint16(block & 0xFFFF));
    m_lastAck = block;
    return sendControl();
}

bool VxTFTPSession::sendControl()
{
    bool temporary = false;
    const bool ok = m_socketOk && m_socket->Send(m_control.constData(), m_control.size(),
                                                 m_peerAddress, &temporary);
    return sent(ok, temporary);
}

bool VxTFTPSession::sent(bool ok, bool temporary)
{
    // A full send queue is a lost packet: the resend or the peer's retransmission
    // recovers it.
    if (ok || temporary)
        return true;
    Report(TFTP_SEND_ERROR);
    return false;
}

bool VxTFTPSession::sendError(int code, const sockaddr_in& to, const char* text)
{
    if (!m_socketOk)
        return false;
    char packet[64];
    put16(packet, OP_ERROR);
    put16(packet + 2, quint16(code));
    const size_t len = std::min(std::strlen(text), sizeof packet - 5);
    std::memcpy(packet + 4, text, len);
    packet[4 + len] = 0;
    return m_socket->Send(packet, qint64(5 + len), to);
}

void VxTFTPSession::armDeadline()
{
    m_deadline = TickCount() + m_timeoutMs;
}

void VxTFTPSession::closeFile()
{
    if (m_readFd >= 0) {
        ::close(m_readFd);
        m_readFd = -1;
    }
    m_cache.reset();
    m_cacheCapacity = m_cacheOffset = m_cacheLength = 0;
    // An uncommitted temporary file is removed; the target keeps its old content.
    m_writeFile.reset();
    m_fileOpen = false;
    m_deadline = 0;
}
