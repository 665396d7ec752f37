#include "sim/SimTftpClient.h"

#include <arpa/inet.h>
#include <cerrno>
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

// After the last ACK of a fetch the client stays a while to answer a repeated last DATA
// (our ACK may have been lost), as RFC 1350 asks of the side that sends the final ACK.
constexpr int LingerRetransmits = 2;

} // namespace

SimTftpClient::SimTftpClient(Direction direction, Params params, QByteArray putData, Done done,
                             QObject* parent)
    : QObject(parent),
      m_direction(direction),
      m_params(std::move(params)),
      m_data(direction == Direction::Put ? std::move(putData) : QByteArray()),
      m_done(std::move(done))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SimTftpClient::OnTimeout);
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
    QByteArray request = Opcode16(m_direction == Direction::Fetch ? RRQ : WRQ);
    request += m_params.fileName.toLatin1();
    request += '\0';
    request += "octet";
    request += '\0';
    m_lastPacket = request;
    Send(request, m_params.server, m_params.serverPort);
    ArmRetransmit();
}

void SimTftpClient::Abort()
{
    m_finished = true;
    m_lingering = false;
    m_timer.stop();
    m_socket.Close();
    m_done = nullptr;
    deleteLater();
}

void SimTftpClient::ArmRetransmit()
{
    m_timer.start(m_params.timeoutMs);
}

void SimTftpClient::OnReadyRead()
{
    // One datagram per notification: the transfer moves in lock-step, so a second one is
    // rare, and the notifier fires again at once when there is one.
    if (m_finished && !m_lingering)
        return;
    char buffer[2048];
    sockaddr_in from {};
    const qint64 n = m_socket.Receive(buffer, sizeof buffer, &from);
    if (n < 0)
        return;
    HandlePacket(QByteArray(buffer, n), QHostAddress(ntohl(from.sin_addr.s_addr)),
                 ntohs(from.sin_port));
}

void SimTftpClient::HandlePacket(const QByteArray& packet, const QHostAddress& from, quint16 port)
{
    if (packet.size() < 4)
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
    } else if (port != m_serverTid || !from.isEqual(m_serverAddress, QHostAddress::TolerantConversion)) {
        SendError(ErrUnknownTid, QStringLiteral("Unknown transfer ID"), from, port);
        return;
    }

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

void SimTftpClient::HandleData(quint16 block, const QByteArray& payload)
{
    const quint16 expected = quint16(m_block + 1);
    if (block != expected) {
        // A repeat of the block we acknowledged last: our ACK was lost, say it again.
        if (block == m_block && m_blocksDone > 0)
            SendPacket(Opcode16(ACK) + Opcode16(block));
        return;
    }
    if (m_lingering)
        return;
    if (m_params.failOnPurpose) {
        SendError(ErrNotDefined, QStringLiteral("transfer aborted by the device"), m_serverAddress,
                  m_serverTid);
        Finish(false, QStringLiteral("transfer aborted by the device"));
        return;
    }
    if (m_data.size() + payload.size() > m_params.maxFetchSize) {
        SendError(ErrDiskFull, QStringLiteral("Disk full or allocation exceeded"), m_serverAddress,
                  m_serverTid);
        Finish(false, QStringLiteral("file larger than the device's memory"));
        return;
    }
    m_data += payload;
    m_block = block;
    ++m_blocksDone;
    m_retriesLeft = m_params.retries;
    const QByteArray ack = Opcode16(ACK) + Opcode16(block);
    SendPacket(ack);
    if (payload.size() < BlockSize) {
        Finish(true, QString());
        return;
    }
    ArmRetransmit();
}

void SimTftpClient::HandleAck(quint16 block)
{
    if (m_params.failOnPurpose) {
        SendError(ErrNotDefined, QStringLiteral("transfer aborted by the device"), m_serverAddress,
                  m_serverTid);
        Finish(false, QStringLiteral("transfer aborted by the device"));
        return;
    }
    // A repeated ACK of an earlier block is ignored: answering it would send every
    // later block twice (the "Sorcerer's Apprentice" fault of RFC 1350 implementations).
    if (block != m_block)
        return;
    if (m_lastBlockSent) {
        Finish(true, QString());
        return;
    }
    m_retriesLeft = m_params.retries;
    SendDataBlock();
}

void SimTftpClient::SendDataBlock()
{
    const qint64 offset = m_blocksDone * BlockSize;
    const QByteArray payload = m_data.mid(offset, BlockSize);
    // A file whose size is a multiple of 512 ends with an empty block.
    m_lastBlockSent = payload.size() < BlockSize;
    m_block = quint16(m_block + 1);
    ++m_blocksDone;
    SendPacket(Opcode16(DATA) + Opcode16(m_block) + payload);
    ArmRetransmit();
}

void SimTftpClient::SendPacket(const QByteArray& packet)
{
    m_lastPacket = packet;
    if (m_haveTid)
        Send(packet, m_serverAddress, m_serverTid);
    else
        Send(packet, m_params.server, m_params.serverPort);
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
    SendPacket(m_lastPacket);
    ArmRetransmit();
}

void SimTftpClient::Finish(bool ok, const QString& error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    Done done = std::move(m_done);
    m_done = nullptr;
    if (ok && m_direction == Direction::Fetch) {
        m_lingering = true;
        m_timer.start(m_params.timeoutMs * LingerRetransmits);
    } else {
        m_socket.Close();
        deleteLater();
    }
    if (done)
        done(ok, m_direction == Direction::Fetch ? m_data : QByteArray(), error);
}
