#include "tftp/VxTFTPSession.h"

#include "common/Wait.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

namespace {

enum Opcode : quint16 { OP_RRQ = 1, OP_WRQ = 2, OP_DATA = 3, OP_ACK = 4, OP_ERROR = 5 };
// RFC 1350 error codes.
enum TftpErrorCode : quint16 {
    ERR_NOT_DEFINED = 0,
    ERR_FILE_NOT_FOUND = 1,
    ERR_ACCESS_VIOLATION = 2,
    ERR_DISK_FULL = 3,
    ERR_UNKNOWN_TID = 5,
};

constexpr int kBlockSize = 512;
constexpr int kMaxBlock = 65535;
constexpr qint64 kReadChunk = 256 * 1024;
constexpr int kReceiveBuffer = 2048;

void put16(char* at, quint16 v)
{
    at[0] = char(v >> 8);
    at[1] = char(v & 0xFF);
}

quint16 get16(const char* at)
{
    return quint16((quint8(at[0]) << 8) | quint8(at[1]));
}

// A requested name is used only when it stays inside the root: no absolute paths, drive
// letters, backslashes, parent references or control characters.
bool fileNameIsSafe(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return false;
    if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter())
        return false;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('\\'))
            return false;
    }
    const QStringList parts = name.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace

VxTFTPSession::VxTFTPSession(VxTFTPServer& server, const VxTFTPMsg& request, const QHostAddress& peer)
    : m_server(server),
      m_msg(request),
      m_peer(peer),
      m_root(server.m_root),
      m_callback(server.m_callback),
      m_callbackArg(server.m_callbackArg)
{
    m_msg.bytes = 0;
    m_msg.blockSize = -1;
    m_msg.transmissions = 0;
    Report(TFTP_CONNECTED);

    m_peerAddress = TftpDatagramSocket::Address(peer, quint16(m_msg.peerPort));
    m_socket = std::make_unique<TftpDatagramSocket>();
    // The server's own address when it listens on one, any otherwise.
    const QHostAddress local = server.m_address.protocol() == QAbstractSocket::IPv4Protocol
                                   ? server.m_address
                                   : QHostAddress(QHostAddress::AnyIPv4);
    m_socketOk = m_socket->Bind(local, 0);
    if (!m_socketOk) {
        Report(TFTP_SOCKET_ERROR);
        return;
    }
    connect(m_socket.get(), &TftpDatagramSocket::readyRead, this, &VxTFTPSession::readPackets);
}

VxTFTPSession::~VxTFTPSession()
{
    closeFile();
}

bool VxTFTPSession::Matches(int operation, const QString& mode, const QHostAddress& peer,
                            quint16 peerPort, const QString& fileName) const
{
    return m_msg.operation == operation && m_msg.mode == mode && m_peer == peer
           && m_msg.peerPort == peerPort && m_msg.fileName == fileName;
}

void VxTFTPSession::Report(int status)
{
    ++m_busy;
    m_msg.status = status;
    m_msg.message = VxTFTPStatusMessage(status);
    if (m_callback)
        m_callback(m_callbackArg, m_msg, &m_cancel);
    if (status == TFTP_SUCCESS) {
        closeFile();
        m_state = State::Finished;
    } else if (status < 0) {
        closeFile();
        m_state = State::Failed;
    }
    --m_busy;
}

void VxTFTPSession::Begin()
{
    if (m_state != State::Active)
        return;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    const QString& name = m_msg.fileName;
    if (!fileNameIsSafe(name)) {
        sendError(ERR_ACCESS_VIOLATION, m_peerAddress);
        Report(TFTP_ACCESS_VIOLATION);
        return;
    }
    const QString path = m_root.isEmpty() ? name : QDir(m_root).filePath(name);
    if (m_msg.operation == TFTP_OP_READ)
        beginRead(path);
    else
        beginWrite(path);
}

void VxTFTPSession::beginRead(const QString& path)
{
    const QFileInfo info(path);
    // Only regular files: a directory cannot be sent and opening a FIFO would block.
    if (!info.exists() || !info.isFile() || info.isDir()) {
        sendError(ERR_FILE_NOT_FOUND, m_peerAddress);
        Report(TFTP_FILE_NOT_FOUND);
        return;
    }
    m_readFile.setFileName(path);
    if (!m_readFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        sendError(ERR_FILE_NOT_FOUND, m_peerAddress);
        Report(TFTP_FILE_NOT_FOUND);
        return;
    }
    m_fileOpen = true;
    m_fileSize = m_readFile.size();
    if (m_fileSize > TFTP_MAX_FILE_SIZE) {
        // Refused at once: the block numbers would run out near the end of the transfer.
        sendError(ERR_NOT_DEFINED, m_peerAddress, "File too large");
        Report(TFTP_FILE_TOO_LARGE);
        return;
    }
    m_chunk.resize(int(std::min(kReadChunk, std::max<qint64>(m_fileSize, kBlockSize))));
    m_lastBlock = 0;
    const qint64 n = readFileBlock(m_send + 4);
    if (n < 0) {
        sendError(ERR_NOT_DEFINED, m_peerAddress);
        Report(TFTP_FILE_IO_ERROR);
        return;
    }
    m_msg.blockSize = int(n);
    m_msg.bytes = n;
    m_msg.transmissions = 1;
    if (!sendDataBlock(1))
        return;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::beginWrite(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        sendError(ERR_ACCESS_VIOLATION, m_peerAddress);
        Report(TFTP_ACCESS_VIOLATION);
        return;
    }
    m_writeFile = std::make_unique<QSaveFile>(path);
    m_writeFile->setDirectWriteFallback(false);
    if (!m_writeFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_writeFile.reset();
        sendError(ERR_ACCESS_VIOLATION, m_peerAddress);
        Report(TFTP_ACCESS_VIOLATION);
        return;
    }
    m_fileOpen = true;
    m_lastBlock = 0;
    if (!sendAck(0))
        return;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::RepeatedRequest()
{
    if (m_state != State::Active || !m_fileOpen || m_msg.operation != TFTP_OP_WRITE || m_lastBlock != 0)
        return;
    // The peer asks again because our ACK 0 went astray: without it the put cannot start.
    if (!sendLast())
        return;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::readPackets()
{
    ++m_busy;
    // One datagram per notification: a transfer moves in lock-step, so there is rarely a
    // second one, and the notifier fires again at once when there is.
    char buffer[kReceiveBuffer];
    sockaddr_in from {};
    const qint64 size = m_socket->Receive(buffer, sizeof buffer, &from);
    if (size >= 4 && m_fileOpen) { // a closed file: finished or failed, waiting to be removed
        if (!TftpDatagramSocket::SameAddress(from, m_peerAddress)) {
            // Someone else's packet: tell them, and leave this transfer alone.
            sendError(ERR_UNKNOWN_TID, from);
        } else {
            handlePacket(buffer, size);
        }
    }
    --m_busy;
}

void VxTFTPSession::handlePacket(const char* data, qint64 size)
{
    const quint16 opcode = get16(data);
    const int block = get16(data + 2);
    if (m_msg.operation == TFTP_OP_READ && opcode == OP_ACK)
        handleAck(block);
    else if (m_msg.operation == TFTP_OP_WRITE && opcode == OP_DATA)
        handleData(block, data + 4, int(size - 4));
    // Any other kind, an ERROR from the peer included, is ignored: the time-out ends it.
}

void VxTFTPSession::handleAck(int block)
{
    // Only the block in flight counts; a duplicate ACK never causes a resend, which
    // would start the duplicate-packet cascade of RFC 1350's sorcerer's apprentice.
    if (block != m_lastBlock + 1)
        return;
    m_deadline = 0;
    m_lastBlock = block;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    if (m_msg.blockSize < kBlockSize) {
        Report(TFTP_SUCCESS);
        return;
    }
    if (block + 1 > kMaxBlock) {
        // The file grew while it was sent; block numbers must not wrap.
        sendError(ERR_NOT_DEFINED, m_peerAddress, "File too large");
        Report(TFTP_FILE_TOO_LARGE);
        return;
    }
    const qint64 n = readFileBlock(m_send + 4);
    // A short read before the size seen at the start means the file shrank under us: the
    // peer must not take a truncated file for a complete one.
    if (n < 0 || (n < kBlockSize && m_msg.bytes + n < m_fileSize)) {
        sendError(ERR_NOT_DEFINED, m_peerAddress);
        Report(TFTP_FILE_IO_ERROR);
        return;
    }
    m_msg.blockSize = int(n);
    m_msg.bytes += n;
    m_msg.transmissions = 1;
    if (!sendDataBlock(block + 1))
        return;
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

void VxTFTPSession::handleData(int block, const char* payload, int length)
{
    if (block == m_lastBlock && block > 0) {
        // Our ACK of this block was lost and the peer sent the block again: acknowledge
        // it again, or the put dies at the time-out.
        if (!sendLast())
            return;
        armDeadline();
        Report(TFTP_TRANSFERRING);
        return;
    }
    if (block != m_lastBlock + 1)
        return;
    m_deadline = 0;
    m_lastBlock = block;
    if (m_cancel) {
        Report(TFTP_CANCELED);
        return;
    }
    length = std::min(length, kBlockSize);
    if (length > 0 && m_writeFile->write(payload, length) != length) {
        sendError(ERR_DISK_FULL, m_peerAddress);
        Report(TFTP_FILE_IO_ERROR);
        return;
    }
    m_msg.blockSize = length;
    m_msg.bytes += length;
    const bool last = length < kBlockSize;
    if (!last && block == kMaxBlock) {
        sendError(ERR_DISK_FULL, m_peerAddress, "File too large");
        Report(TFTP_FILE_TOO_LARGE);
        return;
    }
    if (last) {
        const bool committed = m_writeFile->commit();
        m_writeFile.reset();
        if (!committed) {
            sendError(ERR_DISK_FULL, m_peerAddress);
            Report(TFTP_FILE_IO_ERROR);
            return;
        }
    }
    if (!sendAck(block))
        return;
    if (last) {
        Report(TFTP_SUCCESS);
        return;
    }
    armDeadline();
    Report(TFTP_TRANSFERRING);
}

bool VxTFTPSession::CheckDeadline(int64_t now)
{
    if (m_state != State::Active || m_deadline == 0 || m_deadline >= now)
        return true;
    if (m_msg.operation == TFTP_OP_READ && m_msg.transmissions < m_server.m_transmissions) {
        if (!sendLast())
            return true;
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
    if (m_state != State::Finished || m_msg.operation != TFTP_OP_WRITE || !m_socketOk || !m_socket)
        return nullptr;
    auto f = std::make_unique<FinalAck>();
    m_socket->disconnect(this);
    f->socket = std::move(m_socket);
    f->peer = m_peerAddress;
    std::memcpy(f->ack, m_send, sizeof f->ack);
    m_socketOk = false;
    return f;
}

qint64 VxTFTPSession::readFileBlock(char* to)
{
    qint64 copied = 0;
    while (copied < kBlockSize) {
        if (m_chunkPos >= m_chunkLen) {
            const qint64 n = m_readFile.read(m_chunk.data(), m_chunk.size());
            if (n < 0)
                return -1;
            m_chunkPos = 0;
            m_chunkLen = n;
            if (n == 0)
                break;
        }
        const qint64 take = std::min<qint64>(kBlockSize - copied, m_chunkLen - m_chunkPos);
        std::memcpy(to + copied, m_chunk.constData() + m_chunkPos, size_t(take));
        m_chunkPos += take;
        copied += take;
    }
    return copied;
}

bool VxTFTPSession::sendDataBlock(int block)
{
    put16(m_send, OP_DATA);
    put16(m_send + 2, quint16(block));
    m_sendLen = 4 + m_msg.blockSize;
    return sendLast();
}

bool VxTFTPSession::sendAck(int block)
{
    put16(m_send, OP_ACK);
    put16(m_send + 2, quint16(block));
    m_sendLen = 4;
    return sendLast();
}

bool VxTFTPSession::sendLast()
{
    if (m_socketOk) {
        bool temporary = false;
        // A full send queue is a lost packet: the resend or the peer's retransmission
        // recovers it.
        if (m_socket->Send(m_send, m_sendLen, m_peerAddress, &temporary) || temporary)
            return true;
    }
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
    m_deadline = TickCount() + int64_t(m_msg.timeout) * 10;
}

void VxTFTPSession::closeFile()
{
    if (m_readFile.isOpen())
        m_readFile.close();
    // An uncommitted temporary file is removed; the target keeps its old content.
    if (m_writeFile) {
        m_writeFile->cancelWriting();
        m_writeFile.reset();
    }
    m_fileOpen = false;
    m_deadline = 0;
}
