#pragma once

#include "tftp/TftpDatagramSocket.h"
#include "tftp/VxTFTPServer.h"

#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QSaveFile>

#include <cstdint>
#include <memory>

// One transfer of the server: its own socket (the server's transfer identifier), the
// peer's address and port (the peer's), the open file and the state machine of a read
// or a write request.
class VxTFTPSession : public QObject
{
    Q_OBJECT
public:
    enum class State { Active, Finished, Failed };

    VxTFTPSession(VxTFTPServer& server, const VxTFTPMsg& request, const QHostAddress& peer);
    ~VxTFTPSession() override;

    // Opens the file and sends the first packet (DATA 1 or ACK 0).
    void Begin();
    // Called by the timer: resends or times out. Returns false when the session has
    // timed out (the server then removes it).
    bool CheckDeadline(int64_t now);
    // The same request again from the same peer while this session lives. A write
    // whose ACK 0 was lost gets it again; anything else is ignored.
    void RepeatedRequest();
    // Closes the socket and reports status 0.
    void Close(bool reportToOwner);

    bool Matches(int operation, const QString& mode, const QHostAddress& peer, quint16 peerPort,
                 const QString& fileName) const;
    State state() const { return m_state; }
    bool IsBusy() const { return m_busy > 0; }
    // After a completed put: the socket, the peer and the final ACK, so that the server
    // can answer the final DATA again if that ACK is lost. Null for anything else.
    struct FinalAck
    {
        std::unique_ptr<TftpDatagramSocket> socket;
        sockaddr_in peer {};
        char ack[4] {};
    };
    std::unique_ptr<FinalAck> TakeFinalAck();
    const VxTFTPMsg& Msg() const { return m_msg; }
    void Report(int status);

private:
    void readPackets();
    void handlePacket(const char* data, qint64 size);
    void handleAck(int block);
    void handleData(int block, const char* payload, int length);
    void beginRead(const QString& path);
    void beginWrite(const QString& path);
    bool sendDataBlock(int block);
    bool sendAck(int block);
    bool sendLast();
    bool sendError(int code, const sockaddr_in& to, const char* text = "");
    qint64 readFileBlock(char* to);
    void armDeadline();
    void closeFile();

    VxTFTPServer& m_server;
    VxTFTPMsg m_msg;
    QHostAddress m_peer;
    sockaddr_in m_peerAddress {};
    QString m_root;
    VxTFTPCallback m_callback;
    void* m_callbackArg = nullptr;
    std::unique_ptr<TftpDatagramSocket> m_socket;
    bool m_socketOk = false;
    bool m_cancel = false;
    State m_state = State::Active;
    int m_busy = 0;

    // Read requests: the file is read in large chunks so that a block costs a copy,
    // not a system call.
    QFile m_readFile;
    qint64 m_fileSize = 0;
    QByteArray m_chunk;
    qint64 m_chunkPos = 0;
    qint64 m_chunkLen = 0;
    // Write requests: received into a temporary file beside the target, renamed into
    // place when the last block has arrived, so a failed put leaves the old file.
    std::unique_ptr<QSaveFile> m_writeFile;

    bool m_fileOpen = false;
    int m_lastBlock = -1; // the last block acknowledged (read) or written (write)
    int64_t m_deadline = 0;
    char m_send[4 + 512];
    int m_sendLen = 0;
};
