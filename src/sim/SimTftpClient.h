#pragma once

#include "sim/SimPacer.h"
#include "tftp/TftpDatagramSocket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

// The TFTP client of one access point (RFC 1350, octet mode): it fetches a file from the
// console's server (RRQ) or puts one to it (WRQ), retransmitting when the server goes
// quiet. It may ask for a block size (RFC 2348) and a window (RFC 7440), and wait before
// each ACK or DATA it sends, as a device on a real LAN does. Block numbers roll over to 0
// after 65535. One object is one transfer; it lives only while the transfer (and the short
// linger after a fetch) lasts, so idle devices own no socket or timer.
class SimTftpClient : public QObject
{
    Q_OBJECT

public:
    enum class Direction
    {
        Fetch,
        Put
    };

    struct Params
    {
        QHostAddress server;
        quint16 serverPort = 69;
        QString fileName;
        QHostAddress localAddress = QHostAddress::AnyIPv4;
        int timeoutMs = 1000;
        int retries = 5;
        qint64 maxFetchSize = 64 * 1024 * 1024;
        // Options asked for in the request (0: not asked).
        int blockSize = 0;
        int windowSize = 0;
        // Wait before each ACK or DATA sent, through the fleet's pacer (the client has its
        // own when none is given).
        int blockDelayMs = 0;
        SimPacer* pacer = nullptr;
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
    enum Opcode : quint16
    {
        RRQ = 1,
        WRQ = 2,
        DATA = 3,
        ACK = 4,
        ERROR = 5,
        OACK = 6
    };
    enum ErrorCode : quint16
    {
        ErrNotDefined = 0,
        ErrDiskFull = 3,
        ErrIllegalOperation = 4,
        ErrUnknownTid = 5,
    };

    void OnReadyRead();
    void OnTimeout();
    void HandlePacket(const QByteArray& packet, const QHostAddress& from, quint16 port);
    void HandleOptionAck(const QByteArray& packet);
    void HandleData(quint16 block, const QByteArray& payload);
    void HandleAck(quint16 block);
    void SendAck(qint64 block);
    void SendWindow(qint64 first);
    // ACK and DATA go out through here, each after the block delay.
    void Emit(const QByteArray& packet);
    void FlushOne();
    void SchedulePacket();
    static qint64 NowMs();
    void SendError(quint16 code, const QString& message, const QHostAddress& to, quint16 port);
    void Finish(bool ok, const QString& error);
    void ArmRetransmit();
    // The retransmission time-out, moved on every block: a deadline, and a timer that is
    // started again only when it fires before the deadline.
    void StartTimeout(int ms);
    void StopTimeout();
    void OnTimerFired();
    bool FailOnPurpose();

    Direction m_direction;
    Params m_params;
    QByteArray m_data; // to put, or fetched so far
    Done m_done;
    void Send(const QByteArray& packet, const QHostAddress& to, quint16 port);

    // Direct to the kernel: one receive and one send per block, no peek per notification.
    TftpDatagramSocket m_socket;
    QTimer m_timer;
    qint64 m_timeoutDueMs = -1; // -1: no time-out running
    qint64 m_timerDueMs = -1;   // when m_timer fires, -1 when it is idle
    std::unique_ptr<SimPacer> m_ownPacer;
    SimPacer* m_pacer = nullptr;
    quint64 m_paceTicket = 0; // moved on to forget the packet waiting for its delay
    bool m_pacing = false;
    std::deque<QByteArray> m_outbox; // waiting for the block delay
    bool m_retransmitAfterFlush = false;
    QByteArray m_request;
    int m_retriesLeft = 0;
    bool m_haveTid = false;
    quint16 m_serverTid = 0;
    QHostAddress m_serverAddress; // where the session's packets come from
    int m_blockSize = BlockSize;  // agreed
    int m_windowSize = 1;         // agreed
    // Fetch: blocks received in order, the block acknowledged last, blocks since then.
    qint64 m_received = 0;
    qint64 m_lastAcked = -1;
    int m_sinceAck = 0;
    bool m_gapAcked = false;
    // Put: the block acknowledged last, the last sent, the final (short) one.
    qint64 m_acked = 0;
    qint64 m_sent = 0;
    qint64 m_finalBlock = 0;
    bool m_finished = false;
    bool m_lingering = false;
};
