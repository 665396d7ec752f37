// Any host can send datagrams to the TFTP server's listening port and to the port of a
// transfer in progress. Each input is a few datagrams sent over loopback either to the
// listening socket or, after a real read or write request opened a session, to that
// session's socket. Nothing may be written outside the served folder.

#include "FuzzSupport.h"
#include "tftp/VxTFTPServer.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

struct Rig
{
    QTemporaryDir base;
    QString root;
    QUdpSocket peer;

    Rig()
    {
        FuzzApp();
        FUZZ_CHECK(base.isValid());
        FUZZ_CHECK(QDir(base.path()).mkdir("root"));
        root = base.filePath("root");
        QFile file(root + "/small.bin");
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(700, 'x'));
        file.close();
        FUZZ_CHECK(peer.bind(QHostAddress::LocalHost, 0));
    }

    // Lets the server handle what loopback has already delivered; returns the port of
    // the last datagram that came back, 0 when none did.
    quint16 Pump()
    {
        quint16 from = 0;
        for (int round = 0; round < 4; ++round) {
            QCoreApplication::processEvents();
            while (peer.hasPendingDatagrams()) {
                QByteArray reply(int(qMax<qint64>(peer.pendingDatagramSize(), 0)), Qt::Uninitialized);
                quint16 port = 0;
                peer.readDatagram(reply.data(), reply.size(), nullptr, &port);
                from = port;
            }
        }
        return from;
    }

    void CleanUp()
    {
        // Only the served folder may exist next to the served folder's own files.
        FUZZ_CHECK(QDir(base.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) ==
                   QStringList{"root"});
        const QDir dir(root);
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (name == "small.bin")
                continue;
            QFileInfo info(dir.filePath(name));
            if (info.isDir() && !info.isSymLink())
                QDir(info.filePath()).removeRecursively();
            else
                QFile::remove(info.filePath());
        }
    }
};

QByteArray Request(int opcode, const char* name)
{
    QByteArray p;
    p.append(char(0)).append(char(opcode)).append(name).append(char(0)).append("octet").append(char(0));
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Rig* rig = new Rig;
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);

    {
        VxTFTPServer server;
        server.SetTimeouts(100, 2);
        int reports = 0;
        server.SetCallback(
            [&](const VxTFTPMsg& msg, bool*) {
                ++reports;
                // At most the served file, or the six datagrams of a put.
                FUZZ_CHECK(msg.bytes >= 0 && msg.bytes <= 6 * 600);
                FUZZ_CHECK(!msg.fileName.contains(QChar(0)));
            });
        server.Start(rig->root, 0, QHostAddress::LocalHost);
        const quint16 listening = server.Port();

        quint16 target = listening;
        if (mode > 0) {
            // A real session first: a read of the served file or a write of a new one.
            rig->peer.writeDatagram(Request(mode == 1 ? 1 : 2, mode == 1 ? "small.bin" : "up.bin"),
                                    QHostAddress::LocalHost, listening);
            target = rig->Pump();
            FUZZ_CHECK(target != 0 && target != listening);
        }
        for (int i = 0; i < 6 && in.remaining_bytes() > 0; ++i) {
            const std::string packet = in.ConsumeRandomLengthString(600);
            rig->peer.writeDatagram(packet.data(), qint64(packet.size()), QHostAddress::LocalHost, target);
            rig->Pump();
        }
        FUZZ_CHECK(server.SessionCount() >= 0);
    }
    rig->Pump();
    rig->CleanUp();
    return 0;
}
