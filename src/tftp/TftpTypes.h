#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>

// What the TFTP server and its sessions share: status codes, the report of a session, the
// owner's callback, and what a grant lets a device do.

// Status codes of a session, as reported to the owner's callback.
enum VxTFTPStatus : int
{
    TFTP_DISCONNECTED = 0,       // the session is destroyed
    TFTP_CONNECTED = 1,          // a session is made
    TFTP_TRANSFERRING = 2,       // a DATA, ACK or OACK was sent (first sends and resends alike)
    TFTP_SUCCESS = 3,            // the transfer is complete
    TFTP_FILE_NOT_FOUND = -1102, // a read request names a file that cannot be opened
    TFTP_ACCESS_VIOLATION =
        -1103,                  // a file that cannot be created, a link, or a name outside the root
    TFTP_SOCKET_ERROR = -1109,  // a socket cannot be set up
    TFTP_SEND_ERROR = -1110,    // a packet cannot be sent
    TFTP_FILE_IO_ERROR = -1111, // reading or writing the file failed during the transfer
    TFTP_FILE_TOO_LARGE = -1112, // the file is larger than the server or the grant allows
    TFTP_TIMEOUT = -1113,        // the peer stayed silent
    TFTP_CANCELED = -1114,       // the owner set the cancel flag
    // Outside any session (no 1 before it, no 0 after it), once per peer, name and kind:
    TFTP_REFUSED = -1115,        // no grant (or rule of the served folder) lets this peer do this
    TFTP_BUSY = -1116,           // over the session limits; once per peer
    TFTP_PEER_ERROR = -1117,     // the peer ended the transfer with an ERROR packet
    TFTP_ILLEGAL_PACKET = -1118, // the peer broke the protocol (a DATA block over the agreed size)
    TFTP_GRANT_TAKEN = -1119,    // the grant serves another transfer now, or has served its one
};

// The message of a status code ("" for a code that has none).
QString VxTFTPStatusMessage(int status);

enum VxTFTPOperation : int
{
    TFTP_OP_READ = 1,  // the peer reads a file from this server
    TFTP_OP_WRITE = 2, // the peer writes a file to this server
};

// The status record of one session; valid only during the callback that receives it.
struct VxTFTPMsg
{
    int status = TFTP_CONNECTED;
    QString message;
    int operation = 0;
    QString mode;         // as requested; every transfer copies the file byte for byte
    QString peerAddress;  // dotted decimal
    QString localAddress; // the address the request came in at
    int port = 0;         // the server's listening port
    QString fileName;     // as requested (untrusted: escape it before showing it)
    qint64 bytes = 0;     // read and sent, or received and written, so far
    int blockSize = -1;   // bytes in the last DATA block; -1 before the first
    int peerPort = 0;
    int sessionNumber = 0;     // -1 for a refusal, which makes no session
    int timeout = 0;           // 10 ms units: the server's, or the one the peer asked for
    int transmissions = 0;     // sends of the current DATA block or window (read requests)
    int agreedBlockSize = 512; // blksize option, 512 without it
    int windowSize = 1;        // windowsize option, 1 without it
    qint64 blocksResent = 0;   // DATA blocks sent again (reads), ACKs sent again (writes)
    quint64 grant = 0;         // the grant the session serves (0: the folder's rules)
};

// Called on every status change of every session. Setting *cancel to true ends the
// session at its next accepted packet (the peer is not told). The callback must not
// destroy the server.
using VxTFTPCallback = std::function<void(const VxTFTPMsg& msg, bool* cancel)>;

// What one device may do: read `path` under `name`, or write `name` (stored at `path`), once.
// A grant serves one transfer at a time and is used up by the first one that completes; any
// other request on it is refused (TFTP_GRANT_TAKEN).
struct VxTFTPGrant
{
    int operation = TFTP_OP_READ; // TFTP_OP_READ or TFTP_OP_WRITE, seen from the peer
    QHostAddress peer;            // requests only from this IPv4 address
    QString name;                 // the name the device was told, matched exactly
    QString path;                 // absolute path of the file read or written
    qint64 maxBytes = 0;          // writes: more than this fails the put (0: no limit)
    QList<QHostAddress> alsoFrom = {}; // or from these (the same device at another address)
};
