#pragma once

#include "TestHelpers.h"
#include "tftp/VxTFTPServer.h"

#include <QByteArray>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTimer>
#include <QUdpSocket>
#include <map>
#include <utility>
#include <vector>

// A TFTP peer made of raw packets on 127.0.0.1, to drive the server step by step.
class TftpTestPeer
{
public:
    struct Packet
    {
        QByteArray data;
        quint16 fromPort = 0;
        int64_t at = 0; // TickCount() when it was read
        bool valid() const { return !data.isNull(); }
        int opcode() const
        {
            return data.size() >= 2 ? (quint8(data[0]) << 8) | quint8(data[1]) : -1;
        }
        int block() const
        {
            return data.size() >= 4 ? (quint8(data[2]) << 8) | quint8(data[3]) : -1;
        }
        QByteArray payload() const { return data.mid(4); }
    };

    // On 127.0.0.1, or another address of the loopback network (127.0.0.2 is a second host).
    explicit TftpTestPeer(const QHostAddress& address = QHostAddress::LocalHost)
    {
        socket.bind(address, 0);
    }

    // A request, with options as name and value pairs (RFC 2347).
    static QByteArray Request(int opcode, const QByteArray& name, const QByteArray& mode = "octet",
                              const std::vector<std::pair<QByteArray, QByteArray>>& options = {})
    {
        QByteArray p;
        p.append(char(0))
            .append(char(opcode))
            .append(name)
            .append(char(0))
            .append(mode)
            .append(char(0));
        for (const auto& [option, value] : options)
            p.append(option).append(char(0)).append(value).append(char(0));
        return p;
    }
    // The options of an OACK as a map (names lower case).
    static std::map<QByteArray, QByteArray> OptionAck(const QByteArray& packet)
    {
        std::map<QByteArray, QByteArray> options;
        const QList<QByteArray> parts = packet.mid(2).split('\0');
        for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
            options[parts[i].toLower()] = parts[i + 1];
        return options;
    }
    static QByteArray Ack(int block) { return QByteArray("\x00\x04", 2) + Block(block); }
    static QByteArray Data(int block, const QByteArray& payload)
    {
        return QByteArray("\x00\x03", 2) + Block(block) + payload;
    }
    static QByteArray Block(int block)
    {
        QByteArray b(2, 0);
        b[0] = char(block >> 8);
        b[1] = char(block & 0xFF);
        return b;
    }

    void SendTo(quint16 port, const QByteArray& packet,
                const QHostAddress& to = QHostAddress::LocalHost)
    {
        socket.writeDatagram(packet, to, port);
    }
    // To the session's port (the source of the last packet received).
    void Send(const QByteArray& packet) { SendTo(sessionPort, packet); }

    // Waits (running the event loop) up to ms for the next packet.
    Packet Receive(int ms = 3000)
    {
        Packet p;
        if (!socket.hasPendingDatagrams()) {
            QEventLoop loop;
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            QObject::connect(&socket, &QUdpSocket::readyRead, &loop, &QEventLoop::quit);
            limit.start(ms);
            loop.exec();
            if (!socket.hasPendingDatagrams())
                return p;
        }
        p.data.resize(int(socket.pendingDatagramSize()));
        QHostAddress from;
        socket.readDatagram(p.data.data(), p.data.size(), &from, &p.fromPort);
        p.at = TickCount();
        sessionPort = p.fromPort;
        return p;
    }

    // Reads a whole file: sends the request, acknowledges every block, returns the data
    // (a null array when the transfer did not complete with a short block).
    QByteArray Fetch(quint16 serverPort, const QByteArray& name,
                     const std::vector<std::pair<QByteArray, QByteArray>>& options = {})
    {
        SendTo(serverPort, Request(1, name, "octet", options));
        QByteArray content("");
        for (int expected = 1; expected <= 65535; ++expected) {
            const Packet p = Receive();
            if (!p.valid() || p.opcode() != 3 || p.block() != expected)
                return QByteArray();
            content += p.payload();
            Send(Ack(expected));
            if (p.payload().size() < 512)
                return content;
        }
        return QByteArray();
    }

    // Writes a whole file; returns true when every block was acknowledged.
    bool Put(quint16 serverPort, const QByteArray& name, const QByteArray& content)
    {
        SendTo(serverPort, Request(2, name));
        Packet p = Receive();
        if (p.opcode() != 4 || p.block() != 0)
            return false;
        for (int block = 1; (block - 1) * 512 <= content.size(); ++block) {
            Send(Data(block, content.mid((block - 1) * 512, 512)));
            p = Receive();
            if (p.opcode() != 4 || p.block() != block)
                return false;
        }
        return true;
    }

    QUdpSocket socket;
    quint16 sessionPort = 0;
};

// Records what the server reports; optionally cancels on a chosen report.
struct TftpEvents
{
    std::vector<VxTFTPMsg> msgs;
    int cancelOnStatus = 99;
    int cancelAfter = 0; // how many reports of that status pass before the cancel

    void Record(const VxTFTPMsg& msg, bool* cancel)
    {
        msgs.push_back(msg);
        if (msg.status == cancelOnStatus && cancelAfter-- <= 0)
            *cancel = true;
    }
    VxTFTPCallback Callback()
    {
        return [this](const VxTFTPMsg& msg, bool* cancel) { Record(msg, cancel); };
    }
    std::vector<int> Statuses(int session = -1) const
    {
        std::vector<int> s;
        for (const VxTFTPMsg& m : msgs)
            if (session < 0 || m.sessionNumber == session)
                s.push_back(m.status);
        return s;
    }
    bool Has(int status) const
    {
        for (const VxTFTPMsg& m : msgs)
            if (m.status == status)
                return true;
        return false;
    }
    // The statuses without the runs of 2 in between: 1, 3, 0 or 1, -1113, 0.
    std::vector<int> Milestones() const
    {
        std::vector<int> s;
        for (const VxTFTPMsg& m : msgs)
            if (m.status != TFTP_TRANSFERRING)
                s.push_back(m.status);
        return s;
    }
    const VxTFTPMsg* Last(int status) const
    {
        for (auto it = msgs.rbegin(); it != msgs.rend(); ++it)
            if (it->status == status)
                return &*it;
        return nullptr;
    }
};

inline QByteArray Pattern(int size, int seed = 0)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 7 + seed * 13 + i / 251) & 0xFF);
    return b;
}

inline void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
}

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}
