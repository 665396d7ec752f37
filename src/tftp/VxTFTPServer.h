#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;
class QUdpSocket;
class VxTFTPSession;

// Status codes of a session, as reported to the owner's callback.
enum VxTFTPStatus : int {
    TFTP_DISCONNECTED = 0,        // the session is destroyed
    TFTP_CONNECTED = 1,           // a session is made
    TFTP_TRANSFERRING = 2,        // a DATA or ACK was sent (first sends and resends alike)
    TFTP_SUCCESS = 3,             // the transfer is complete
    TFTP_FILE_NOT_FOUND = -1102,  // a read request names a file that cannot be opened
    TFTP_ACCESS_VIOLATION = -1103, // a file that cannot be created, or a name outside the root
    TFTP_SOCKET_ERROR = -1109,    // a socket cannot be set up
    TFTP_SEND_ERROR = -1110,      // a packet cannot be sent
    TFTP_FILE_IO_ERROR = -1111,   // reading or writing the file failed during the transfer
    TFTP_FILE_TOO_LARGE = -1112,  // the file needs more blocks than the 16-bit block number carries
    TFTP_TIMEOUT = -1113,         // the peer stayed silent
    TFTP_CANCELED = -1114,        // the owner set the cancel flag
};

// The message of a status code ("" for a code that has none).
QString VxTFTPStatusMessage(int status);

enum VxTFTPOperation : int {
    TFTP_OP_READ = 1,  // the peer reads a file from this server
    TFTP_OP_WRITE = 2, // the peer writes a file to this server
};

// The largest file whose blocks fit the 16-bit block numbers: 65534 full blocks and a
// final short one.
inline constexpr qint64 TFTP_MAX_FILE_SIZE = 65534LL * 512 + 511;

// The status record of one session; valid only during the callback that receives it.
struct VxTFTPMsg
{
    int status = TFTP_CONNECTED;
    QString message;
    int operation = 0;
    QString mode;         // as requested; every transfer copies the file byte for byte
    QString peerAddress;  // dotted decimal
    QString localAddress; // copied from the server
    int port = 0;         // the server's listening port
    QString fileName;     // as requested, without the root directory
    qint64 bytes = 0;     // read and sent, or received and written, so far
    int blockSize = -1;   // bytes in the last DATA block; -1 before the first
    int peerPort = 0;
    int sessionNumber = 0;
    int timeout = 0;       // 10 ms units, copied from the server
    int transmissions = 0; // sends of the current DATA block (read requests)
};

// Called on every status change of every session. Setting *cancel to true ends the
// session at its next accepted packet (the peer is not told). The callback must not
// destroy the server.
using VxTFTPCallback = std::function<void(void* arg, const VxTFTPMsg& msg, bool* cancel)>;

// The TFTP server (RFC 1350, octet transfers in 512-byte blocks) from which the devices
// fetch files and to which they store them. Every transfer is a session with a UDP
// socket of its own on an ephemeral port. Runs entirely on the thread's event loop.
class VxTFTPServer : public QObject
{
    Q_OBJECT
public:
    explicit VxTFTPServer(QObject* parent = nullptr);
    ~VxTFTPServer() override; // frees the sessions without calling back

    // Time-out in 10 ms units for the peer's next packet, and how many times a DATA
    // block is sent at most. Defaults 1000 and 3.
    void SetTimeouts(int timeoutCs, int transmissions);
    void SetCallback(VxTFTPCallback callback, void* arg);

    // Serves rootDirectory (empty: the current directory). When already listening only
    // the root changes. Throws VxError -1109 when the socket cannot be bound; then
    // StartErrorDetail() says why (e.g. the port needs root or CAP_NET_BIND_SERVICE).
    void Start(const QString& rootDirectory, quint16 port = 69,
               const QHostAddress& address = QHostAddress::AnyIPv4);
    // Closes the listening socket, then runs the event loop while sessions remain, for
    // at most 10 s; sessions still open after that are cancelled.
    void Stop();

    bool IsListening() const;
    quint16 Port() const;
    QString LocalAddress() const;
    QString RootDirectory() const;
    QString StartErrorDetail() const { return m_startError; }
    int SessionCount() const { return int(m_sessions.size()); }
    int Timeout() const { return m_timeout; }
    int Transmissions() const { return m_transmissions; }

signals:
    // The last session has gone (ends Stop's wait).
    void sessionsDrained();

private:
    friend class VxTFTPSession;

    void readRequests();
    void handleRequest(const char* data, qint64 size, const QHostAddress& from, quint16 fromPort);
    void tick();
    void removeSession(size_t index, int finalStatus);

    std::unique_ptr<QUdpSocket> m_socket;
    QTimer* m_timer = nullptr;
    QString m_root;
    quint16 m_port = 69;
    QHostAddress m_address = QHostAddress(QHostAddress::AnyIPv4);
    QString m_hostAddress;
    QString m_startError;
    int m_timeout = 1000;
    int m_transmissions = 3;
    VxTFTPCallback m_callback;
    void* m_callbackArg = nullptr;
    int m_sessionNumber = -1;
    std::vector<std::unique_ptr<VxTFTPSession>> m_sessions;
    // Sockets of completed puts, kept for one time-out to acknowledge the final block
    // again when the peer did not get its ACK (RFC 1350's dally).
    struct Dally;
    std::vector<std::unique_ptr<Dally>> m_dallies;
    void dally(VxTFTPSession& session);
    void readDallies();
    // The dallying sockets are watched through one epoll descriptor: after a batch of puts
    // hundreds of them may wait at once, and the event loop polls every descriptor it
    // watches on every turn.
    int m_dallyPoll = -1;
    std::unique_ptr<QSocketNotifier> m_dallyNotifier;
    bool m_inTick = false;
};
