#include "sim/SimTftpClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

QByteArray Opcode16(quint16 value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char(value >> 8);
    bytes[1] = char(value & 0xFF);
    return bytes;
}

quint16 Read16(const QByteArray& packet, int offset)
{
    if (packet.size() < offset + 2)
        return 0;
    return quint16((uint8_t(packet[offset]) << 8) | uint8_t(packet[offset + 1]));
}

// How far a received 16-bit block number is from the expected one: 0 the expected block,
// negative one already had, positive one beyond (an earlier one was lost).
int Distance(quint16 block, qint64 expected)
{
    return qint16(quint16(block - quint16(expected & 0xFFFF)));
}

// After the last ACK of a fetch the client stays a while to answer a repeated last DATA
// (our ACK may have been lost), as RFC 1350 asks of the side that sends the final ACK.
constexpr int LingerRetransmits = 2;

} // namespace

SimTftpClient::SimTftpClient(Direction direction, Params params, QByteArray putData, Done done,
                             QObject* parent)
    : QObject(parent), m_direction(direction), m_params(std::move(params)),
      m_data(direction == Direction::Put ? std::move(putData) : QByteArray()),
      m_done(std::move(done))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SimTftpClient::OnTimerFired);
    m_pacer = m_params.pacer;
    if (!m_pacer && m_params.blockDelayMs > 0) {
        m_ownPacer = std::make_unique<SimPacer>();
        m_pacer = m_ownPacer.get();
    }
    connect(&m_socket, &TftpDatagramSocket::readyRead, this, &SimTftpClient::OnReadyRead);
}

SimTftpClient::~SimTftpClient() = default;

void SimTftpClient::Start()
{
    m_retriesLeft = m_params.retries;
    if (!m_socket.Bind(m_params.localAddress, 0)) {
        const QString error =
            QStringLiteral("cannot open a socket: ") + QString::fromLocal8Bit(std::strerror(errno));
        // The outcome is always reported from the event loop, never from inside Start().
        QTimer::singleShot(0, this, [this, error] { Finish(false, error); });
        return;
    }
    m_request = Opcode16(m_direction == Direction::Fetch ? RRQ : WRQ);
    m_request += m_params.fileName.toLatin1();
    m_request += '\0';
    m_request += "octet";
    m_request += '\0';
    if (m_params.blockSize > 0)
        m_request +=
            "blksize" + QByteArray(1, '\0') + QByteArray::number(m_params.blockSize) + '\0';
    if (m_params.windowSize > 0)
        m_request +=
            "windowsize" + QByteArray(1, '\0') + QByteArray::number(m_params.windowSize) + '\0';
    Send(m_request, m_params.server, m_params.serverPort);
    ArmRetransmit();
}

void SimTftpClient::Abort()
{
    m_finished = true;
    m_lingering = false;
    StopTimeout();
    ++m_paceTicket;
    m_pacing = false;
    m_outbox.clear();
    m_socket.Close();
    m_done = nullptr;
    deleteLater();
}

void SimTftpClient::ArmRetransmit()
{
    // The time-out runs from the last packet actually sent.
    if (!m_outbox.empty()) {
        m_retransmitAfterFlush = true;
        StopTimeout();
        return;
    }
    StartTimeout(m_params.timeoutMs);
}

qint64 SimTftpClient::NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SimTftpClient::StartTimeout(int ms)
{
    const qint64 now = NowMs();
    m_timeoutDueMs = now + ms;
    if (m_timerDueMs < 0 || m_timerDueMs > m_timeoutDueMs) {
        m_timerDueMs = m_timeoutDueMs;
        m_timer.start(ms);
    }
}

void SimTftpClient::StopTimeout()
{
    // The timer may still fire; with no deadline it does nothing.
    m_timeoutDueMs = -1;
}

void SimTftpClient::OnTimerFired()
{
    m_timerDueMs = -1;
    if (m_timeoutDueMs < 0)
        return;
    const qint64 now = NowMs();
    if (now < m_timeoutDueMs) {
        m_timerDueMs = m_timeoutDueMs;
        m_timer.start(int(m_timeoutDueMs - now));
        return;
    }
    m_timeoutDueMs = -1;
    OnTimeout();
}

void SimTftpClient::Emit(const QByteArray& packet)
{
    if (m_params.blockDelayMs <= 0) {
        Send(packet, m_serverAddress, m_serverTid);
        return;
    }
    m_outbox.push_back(packet);
    if (!m_pacing)
        SchedulePacket();
}

void SimTftpClient::SchedulePacket()
{
    m_pacing = true;
    const quint64 ticket = m_paceTicket;
    m_pacer->Schedule(m_params.blockDelayMs, this, [this, ticket] {
        if (ticket != m_paceTicket)
            return;
        m_pacing = false;
        FlushOne();
    });
}

void SimTftpClient::FlushOne()
{
    if (m_outbox.empty())
        return;
    Send(m_outbox.front(), m_serverAddress, m_serverTid);
    m_outbox.pop_front();
    if (!m_outbox.empty()) {
        SchedulePacket();
    } else if (m_retransmitAfterFlush) {
        m_retransmitAfterFlush = false;
        StartTimeout(m_params.timeoutMs * (m_lingering ? LingerRetransmits : 1));
    }
}

void SimTftpClient::OnReadyRead()
{
    // One datagram per notification: in lock-step a second one is rare, and the notifier
    // fires again at once when there is one.
    if (m_finished && !m_lingering)
        return;
    char buffer[65536 + 4];
    sockaddr_in from{};
    const qint64 n = m_socket.Receive(buffer, sizeof buffer, &from);
    if (n < 0)
        return;
    HandlePacket(QByteArray(buffer, int(n)), QHostAddress(ntohl(from.sin_addr.s_addr)),
                 ntohs(from.sin_port));
}

bool SimTftpClient::FailOnPurpose()
{
    if (!m_params.failOnPurpose)
        return false;
    SendError(ErrNotDefined, QStringLiteral("transfer aborted by the device"), m_serverAddress,
              m_serverTid);
    Finish(false, QStringLiteral("transfer aborted by the device"));
    return true;
}

void SimTftpClient::HandlePacket(const QByteArray& packet, const QHostAddress& from, quint16 port)
{
    if (packet.size() < 2)
        return;
    const quint16 opcode = Read16(packet, 0);
    if (!m_haveTid) {
        const bool fromServer = from.isEqual(m_params.server, QHostAddress::TolerantConversion) ||
                                (m_params.acceptLoopbackReplies && from.isLoopback());
        if (!fromServer)
            return;
        if (opcode == ERROR) {
            Finish(false, QStringLiteral("server error %1: %2")
                              .arg(Read16(packet, 2))
                              .arg(QString::fromLatin1(packet.mid(4)).section(QChar(0), 0, 0)));
            return;
        }
        // The first answer names the port (and address) of the server's session.
        m_haveTid = true;
        m_serverTid = port;
        m_serverAddress = from;
        m_retriesLeft = m_params.retries;
        if (FailOnPurpose())
            return;
        if (opcode == OACK) {
            HandleOptionAck(packet);
            return;
        }
        // No OACK: the server took none of the options.
        m_finalBlock = m_data.size() / m_blockSize + 1;
    } else if (port != m_serverTid ||
               !from.isEqual(m_serverAddress, QHostAddress::TolerantConversion)) {
        SendError(ErrUnknownTid, QStringLiteral("Unknown transfer ID"), from, port);
        return;
    }
    if (packet.size() < 4 && opcode != OACK)
        return;

    switch (opcode) {
    case DATA:
        if (m_direction == Direction::Fetch)
            HandleData(Read16(packet, 2), packet.mid(4));
        else
            SendError(ErrIllegalOperation, QStringLiteral("Illegal TFTP operation"), from, port);
        break;
    case ACK:
        if (m_direction == Direction::Put)
            HandleAck(Read16(packet, 2));
        break;
    case OACK:
        // Again: our ACK 0 was lost.
        if (m_direction == Direction::Fetch && m_received == 0)
            SendAck(0);
        break;
    case ERROR:
        Finish(false, QStringLiteral("server error %1: %2")
                          .arg(Read16(packet, 2))
                          .arg(QString::fromLatin1(packet.mid(4)).section(QChar(0), 0, 0)));
        break;
    default:
        SendError(ErrIllegalOperation, QStringLiteral("Illegal TFTP operation"), from, port);
        Finish(false, QStringLiteral("illegal packet from the server"));
        break;
    }
}

void SimTftpClient::HandleOptionAck(const QByteArray& packet)
{
    const QList<QByteArray> parts = packet.mid(2).split('\0');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QByteArray name = parts[i].toLower();
        bool ok = false;
        const int value = parts[i + 1].toInt(&ok);
        if (!ok)
            continue;
        // The server may lower what was asked for, never raise it.
        if (name == "blksize" && m_params.blockSize > 0 && value >= 8 &&
            value <= m_params.blockSize)
            m_blockSize = value;
        else if (name == "windowsize" && m_params.windowSize > 0 && value >= 1 &&
                 value <= m_params.windowSize)
            m_windowSize = value;
    }
    m_finalBlock = m_data.size() / m_blockSize + 1;
    if (m_direction == Direction::Fetch) {
        SendAck(0);
        ArmRetransmit();
    } else {
        SendWindow(1);
    }
}

void SimTftpClient::HandleData(quint16 block, const QByteArray& payload)
{
    const qint64 expected = m_received + 1;
    const int distance = Distance(block, expected);
    if (distance < 0) {
        // The block we acknowledged last, again: our ACK was lost, say it again.
        if (m_lastAcked > 0 && block == quint16(m_lastAcked & 0xFFFF))
            SendAck(m_lastAcked);
        return;
    }
    if (m_lingering)
        return;
    if (distance > 0) {
        // A block of the window was lost (RFC 7440): acknowledge the last one in order,
        // once, and the server sends again from there.
        if (m_windowSize > 1 && !m_gapAcked) {
            m_gapAcked = true;
            SendAck(m_received);
            ArmRetransmit();
        }
        return;
    }
    if (m_data.size() + payload.size() > m_params.maxFetchSize) {
        SendError(ErrDiskFull, QStringLiteral("Disk full or allocation exceeded"), m_serverAddress,
                  m_serverTid);
        Finish(false, QStringLiteral("file larger than the device's memory"));
        return;
    }
    m_data += payload;
    m_received = expected;
    m_gapAcked = false;
    m_retriesLeft = m_params.retries;
    const bool last = payload.size() < m_blockSize;
    if (last || ++m_sinceAck >= m_windowSize)
        SendAck(expected);
    if (last) {
        Finish(true, QString());
        return;
    }
    ArmRetransmit();
}

void SimTftpClient::SendAck(qint64 block)
{
    m_lastAcked = block;
    m_sinceAck = 0;
    Emit(Opcode16(ACK) + Opcode16(quint16(block & 0xFFFF)));
}

void SimTftpClient::HandleAck(quint16 block)
{
    // ACK 0 answers the request when the server took no option.
    if (m_sent == 0) {
        if (block == 0)
            SendWindow(1);
        return;
    }
    // Only an ACK of a block in flight counts: a repeated ACK of an earlier block is
    // ignored, since answering it would send every later block twice (the "Sorcerer's
    // Apprentice" fault of RFC 1350 implementations).
    qint64 acked = 0;
    for (qint64 b = m_sent; b > m_acked; --b) {
        if (quint16(b & 0xFFFF) == block) {
            acked = b;
            break;
        }
    }
    if (acked == 0)
        return;
    m_acked = acked;
    m_retriesLeft = m_params.retries;
    if (acked == m_finalBlock) {
        Finish(true, QString());
        return;
    }
    SendWindow(acked + 1);
}

void SimTftpClient::SendWindow(qint64 first)
{
    // A file whose size is a multiple of the block size ends with an empty block.
    const qint64 last = std::min(m_acked + m_windowSize, m_finalBlock);
    for (qint64 b = first; b <= last; ++b) {
        const QByteArray payload = m_data.mid((b - 1) * m_blockSize, m_blockSize);
        Emit(Opcode16(DATA) + Opcode16(quint16(b & 0xFFFF)) + payload);
    }
    m_sent = std::max(m_sent, last);
    ArmRetransmit();
}

void SimTftpClient::SendError(quint16 code, const QString& message, const QHostAddress& to,
                              quint16 port)
{
    Send(Opcode16(ERROR) + Opcode16(code) + message.toLatin1() + '\0', to, port);
}

void SimTftpClient::Send(const QByteArray& packet, const QHostAddress& to, quint16 port)
{
    // A packet the kernel refuses is a lost packet: the retransmission timer covers it.
    m_socket.Send(packet.constData(), packet.size(), TftpDatagramSocket::Address(to, port));
}

void SimTftpClient::OnTimeout()
{
    if (m_lingering) {
        m_lingering = false;
        m_socket.Close();
        deleteLater();
        return;
    }
    if (m_finished)
        return;
    if (m_retriesLeft <= 0) {
        Finish(false, QStringLiteral("timeout"));
        return;
    }
    --m_retriesLeft;
    if (!m_haveTid) {
        Send(m_request, m_params.server, m_params.serverPort);
        ArmRetransmit();
    } else if (m_direction == Direction::Put && m_sent > 0) {
        SendWindow(m_acked + 1); // RFC 7440: the whole window again
    } else {
        SendAck(m_lastAcked < 0 ? 0 : m_lastAcked);
        ArmRetransmit();
    }
}

void SimTftpClient::Finish(bool ok, const QString& error)
{
    if (m_finished)
        return;
    m_finished = true;
    StopTimeout();
    Done done = std::move(m_done);
    m_done = nullptr;
    if (ok && m_direction == Direction::Fetch) {
        // The final ACK may still wait for its delay; the linger starts after it.
        m_lingering = true;
        if (m_outbox.empty())
            StartTimeout(m_params.timeoutMs * LingerRetransmits);
        else
            m_retransmitAfterFlush = true;
    } else {
        m_outbox.clear();
        ++m_paceTicket;
        m_pacing = false;
        m_socket.Close();
        deleteLater();
    }
    if (done)
        done(ok, m_direction == Direction::Fetch ? m_data : QByteArray(), error);
}
