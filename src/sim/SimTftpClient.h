#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include "tftp/TftpDatagramSocket.h"

#include <functional>

// The TFTP client of one access point (RFC 1350, octet mode): it fetches a file from the
// console's server (RRQ) or puts one to it (WRQ), retransmitting its last packet when
// the server goes quiet. One object is one transfer; it lives only while the transfer
// (and the short linger after a fetch) lasts, so idle devices own no socket or timer.
class SimTftpClient : public QObject
{
    Q_OBJECT

public:
    enum class Direction { Fetch, Put };

    struct Params
    {
        QHostAddress server;
        quint16 serverPort = 69;
        QString fileName;
        QHostAddress localAddress = QHostAddress::AnyIPv4;
        int timeoutMs = 1000;
        int retries = 5;
        qint64 maxFetchSize = 64 * 1024 * 1024;
        // The server is this machine: its answers may come from a loopback address.
        bool acceptLoopbackReplies = false;
        // Fault injection: abort with an error packet once the server has answered.
        bool failOnPurpose = false;
    };

    // ok, the fetched bytes (empty for a put), and why it failed.
    using Done = std::function<void(bool ok, const QByteArray& data, const QString& error)>;

    SimTftpClient(Direction direction, Params params, QByteArray putData, Done done,
                  QObject* parent = nullptr);
    ~SimTftpClient() override;

    // Sends the request. The outcome arrives through the Done callback, never from
    // inside Start(); afterwards the object deletes itself.
    void Start();
    // Ends the transfer without calling Done (the device rebooted).
    void Abort();

    static constexpr int BlockSize = 512;

private:
    enum Opcode : quint16 { RRQ = 1, WRQ = 2, DATA = 3, ACK = 4, ERROR = 5 };
    enum ErrorCode : quint16 {
        ErrNotDefined = 0,
        ErrDiskFull = 3,
        ErrIllegalOperation = 4,
        ErrUnknownTid = 5,
    };

    void OnReadyRead();
    void OnTimeout();
    void HandlePacket(const QByteArray& packet, const QHostAddress& from, quint16 port);
    void HandleData(quint16 block, const QByteArray& payload);
    void HandleAck(quint16 block);
    void SendDataBlock();
    void SendPacket(const QByteArray& packet);
    void SendError(quint16 code, const QString& message, const QHostAddress& to, quint16 port);
    void Finish(bool ok, const QString& error);
    void ArmRetransmit();

    Direction m_direction;
    Params m_params;
    QByteArray m_data; // to put, or fetched so far
    Done m_done;
    void Send(const QByteArray& packet, const QHostAddress& to, quint16 port);

    // Direct to the kernel: one receive and one send per block, no peek per notification.
    TftpDatagramSocket m_socket;
    QTimer m_timer;
    QByteArray m_lastPacket;
    int m_retriesLeft = 0;
    bool m_haveTid = false;
    quint16 m_serverTid = 0;
    QHostAddress m_serverAddress; // where the session's packets come from
    quint16 m_block = 0;      // last block received (fetch) or sent (put)
    qint64 m_blocksDone = 0;  // counts past the 16-bit wrap
    bool m_finished = false;
    bool m_lingering = false;
    bool m_lastBlockSent = false;
};
