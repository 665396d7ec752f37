// Devices fetching and putting files over TFTP against a small server inside the test.

#include "SimFleetFixture.h"
#include "tftp/VxTFTPServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>

namespace {

quint16 Read16(const QByteArray& packet, int offset)
{
    if (packet.size() < offset + 2)
        return 0;
    return quint16((uint8_t(packet[offset]) << 8) | uint8_t(packet[offset + 1]));
}

QByteArray Make16(quint16 value)
{
    QByteArray bytes(2, '\0');
    bytes[0] = char(value >> 8);
    bytes[1] = char(value & 0xFF);
    return bytes;
}

// One session at a time, on its own socket as RFC 1350 servers do. It does not
// retransmit by itself: recovery from loss is the client's job here.
class MiniTftpServer : public QObject
{
public:
    MiniTftpServer()
    {
        listen.bind(QHostAddress::LocalHost, 0);
        connect(&listen, &QUdpSocket::readyRead, this, [this] { OnRequest(); });
        connect(&session, &QUdpSocket::readyRead, this, [this] { OnSession(); });
    }

    quint16 Port() const { return listen.localPort(); }

    QMap<QString, QByteArray> files;  // served to RRQ
    QMap<QString, QByteArray> stored; // received by WRQ
    int ignoreRequests = 0;           // the first n requests are lost
    int loseDataBlock = -1;           // first arrival of this DATA block is lost (WRQ)
    int dataArrivals = 0;
    QList<quint16> errorCodes; // ERROR packets the client sent
    QStringList requests;

private:
    void OnRequest()
    {
        while (listen.hasPendingDatagrams()) {
            const auto d = listen.receiveDatagram();
            const QByteArray p = d.data();
            const quint16 op = Read16(p, 0);
            const QString name = QString::fromLatin1(p.mid(2)).section(QChar(0), 0, 0);
            requests << name;
            if (ignoreRequests > 0) {
                --ignoreRequests;
                continue;
            }
            session.close();
            session.bind(QHostAddress::LocalHost, 0);
            peer = d.senderAddress();
            peerPort = quint16(d.senderPort());
            fileName = name;
            block = 0;
            buffer.clear();
            writing = op == 2;
            if (writing) {
                SendTo(Make16(4) + Make16(0));
            } else if (!files.contains(name)) {
                SendTo(Make16(5) + Make16(1) + "File not found" + '\0');
            } else {
                buffer = files[name];
                SendBlock(1);
            }
        }
    }

    void OnSession()
    {
        while (session.hasPendingDatagrams()) {
            const QByteArray p = session.receiveDatagram().data();
            const quint16 op = Read16(p, 0);
            const quint16 n = Read16(p, 2);
            if (op == 5) {
                errorCodes << n;
            } else if (op == 4 && !writing) {
                if (qsizetype(n) * 512 <= buffer.size())
                    SendBlock(quint16(n + 1));
            } else if (op == 3 && writing) {
                ++dataArrivals;
                if (n == loseDataBlock) {
                    loseDataBlock = -1;
                    continue;
                }
                if (n == quint16(block + 1)) {
                    block = n;
                    buffer += p.mid(4);
                    if (p.size() - 4 < 512)
                        stored[fileName] = buffer;
                }
                SendTo(Make16(4) + Make16(n));
            }
        }
    }

    void SendBlock(quint16 n)
    {
        SendTo(Make16(3) + Make16(n) + buffer.mid(qsizetype(n - 1) * 512, 512));
    }

    void SendTo(const QByteArray& packet) { session.writeDatagram(packet, peer, peerPort); }

    QUdpSocket listen;
    QUdpSocket session;
    QHostAddress peer;
    quint16 peerPort = 0;
    QString fileName;
    quint16 block = 0;
    QByteArray buffer;
    bool writing = false;
};

} // namespace

class SimTftpTest : public SimFleetFixture
{
protected:
    void StartWithServer(Ktr4200FleetOptions options = LoopbackOptions(2))
    {
        options.tftpPort = server.Port();
        StartFleet(options);
    }

    static QByteArray Transfer(int action, const QByteArray& fileName)
    {
        return Record(92, Bytes("7F 00 00 01")) + Record(93, fileName) +
               Record(5, QByteArray(1, char(action)));
    }

    uint8_t Status(const QByteArray& reply)
    {
        return reply.size() >= 36 ? uint8_t(reply[10]) & 0x0F : 0xFF;
    }

    MiniTftpServer server;
};

TEST_F(SimTftpTest, WriteConfigFetchesTheFileAndTheFlashUpdateAppliesIt)
{
    QByteArray file =
        "KTR-4200\r\ndevice_name =\"Lobby 2\"\r\n80211a_dtim =3\r\n80211a_acl_clr =\r\n";
    for (int i = 0; i < 40; ++i)
        file += QStringLiteral("80211a_acl_mac_add =02:1A:2B:00:00:%1\r\n")
                    .arg(i, 2, 16, QLatin1Char('0'))
                    .toLatin1();
    ASSERT_GT(file.size(), 1024);
    server.files[QStringLiteral("0011223344F1.WR")] = file;
    server.ignoreRequests = 1; // the first RRQ is lost: the device must ask again
    StartWithServer();

    const QByteArray reply =
        Exchange(Request(NIMP_CMD_SET, 1, Mac(1), Transfer(10, "0011223344F1.WR")), 3000);
    EXPECT_EQ(reply, ExpectedReply(NIMP_CMD_SET, 1, 0, Mac(1)));
    EXPECT_EQ(server.requests.size(), 2);
    const SimDevice& device = fleet->Device(1);
    EXPECT_EQ(device.lastReceived.size, file.size());
    EXPECT_EQ(device.lastReceived.kind, QStringLiteral("config"));
    EXPECT_EQ(
        device.lastReceived.sha256,
        QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(device.DeviceName(), QStringLiteral("AP-3344F1"))
        << "nothing applied before the flash update";

    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 2, Mac(1), Record(5, Bytes("04")))),
              ExpectedReply(NIMP_CMD_SET, 2, 0, Mac(1)));
    EXPECT_EQ(device.DeviceName(), QStringLiteral("Lobby 2"));
    EXPECT_EQ(device.config.Value(QStringLiteral("80211a_dtim")), QStringLiteral("3"));
    EXPECT_EQ(device.config.AclEntries(0).size(), 40);
    // The file is written once: a second flash update has nothing to write.
    EXPECT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 3, Mac(1), Record(5, Bytes("04"))))), 2);
}

TEST_F(SimTftpTest, AConfigurationWithRefusedSettingsIsNotDone)
{
    server.files[QStringLiteral("bad.WR")] = "KTR-4200\r\n80211a_dtim =300\r\n80211b_dtim =9\r\n";
    StartWithServer();
    ASSERT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 1, Mac(0), Transfer(10, "bad.WR")))), 0);
    EXPECT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 2, Mac(0), Record(5, Bytes("04"))))), 2);
    const SimDevice& device = fleet->Device(0);
    EXPECT_EQ(device.config.Value(QStringLiteral("80211a_dtim")), QStringLiteral("1"));
    EXPECT_EQ(device.config.Value(QStringLiteral("80211b_dtim")), QStringLiteral("9"));
    EXPECT_EQ(device.lastApply.refused, QStringList{QStringLiteral("80211a_dtim =300")});
}

TEST_F(SimTftpTest, ReadConfigPutsTheDeviceFileAndResendsALostBlock)
{
    auto options = LoopbackOptions(1);
    options.modelAt.insert(0, QStringLiteral("KTR-4200AP"));
    StartWithServer(options);
    SimDevice& device = fleet->Device(0);
    QByteArray acl = "80211b_acl_clr =\r\n";
    for (int i = 0; i < 30; ++i)
        acl += QStringLiteral("80211b_acl_mac_add =02:1A:2B:00:01:%1\r\n")
                   .arg(i, 2, 16, QLatin1Char('0'))
                   .toLatin1();
    ASSERT_TRUE(device.config.Apply(acl).refused.isEmpty());
    const QByteArray expected = device.config.Render(QStringLiteral("KTR-4200AP"));
    ASSERT_GT(expected.size(), 1024);
    server.loseDataBlock = 2;

    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 5, Mac(0), Transfer(13, "0011223344F0.RD")), 3000),
              ExpectedReply(NIMP_CMD_SET, 5, 0, Mac(0)));
    const QByteArray got = server.stored.value(QStringLiteral("0011223344F0.RD"));
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(got.startsWith("KTR-4200AP\r\nip =10.1.0.10\r\nmask =255.255.255.0\r\n"));
    EXPECT_TRUE(got.endsWith("80211b_acl_mac_add =02:1A:2B:00:01:1d\r\n"));
    // Every block once, plus the one resent after the loss: no block is sent twice
    // in answer to a late acknowledgement.
    EXPECT_EQ(server.dataArrivals, int(expected.size() / 512 + 1) + 1);
}

TEST_F(SimTftpTest, FirmwareImageChangesTheVersionAtTheFlashUpdate)
{
    QByteArray image(1024, '\0'); // a multiple of 512: the transfer ends with an empty block
    image.replace(100, 20, "FW_VERSION=2.00.01e\n");
    image[900] = char(0xA5);
    server.files[QStringLiteral("fw.bin")] = image;
    StartWithServer();

    ASSERT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 1, Mac(0), Transfer(10, "fw.bin")))), 0);
    EXPECT_EQ(fleet->Device(0).lastReceived.size, 1024);
    EXPECT_EQ(fleet->Device(0).lastReceived.kind, QStringLiteral("firmware"));
    EXPECT_EQ(fleet->Device(0).version, QStringLiteral("1.02.07u"));
    ASSERT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 2, Mac(0), Record(5, Bytes("04"))))), 0);
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 3, Mac(0), Bytes("0C 00 03"))).mid(36),
              Bytes("0C 00 0B") + "2.00.01e");
}

TEST_F(SimTftpTest, FailedTransfersAreReportedAsNotDone)
{
    auto options = LoopbackOptions(2);
    options.tftpFail = {1};
    server.files[QStringLiteral("a.WR")] = "KTR-4200\r\n";
    StartWithServer(options);

    // The server has no such file.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 1, Mac(0), Transfer(10, "missing.WR"))),
              ExpectedReply(NIMP_CMD_SET, 1, 2, Mac(0)));
    // The fault option: the device aborts with an error packet once the server answers.
    EXPECT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 2, Mac(1), Transfer(10, "a.WR")))), 2);
    EXPECT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 3, Mac(1), Transfer(13, "b.RD")))), 2);
    WaitUntil([&] { return server.errorCodes.size() == 2; }, 1000);
    EXPECT_EQ(server.errorCodes.size(), 2);
    EXPECT_FALSE(server.stored.contains(QStringLiteral("b.RD")));
    EXPECT_EQ(fleet->Device(1).counters.tftpFailures, 2);
    EXPECT_FALSE(fleet->Device(1).haveReceived);

    // No server at all: the device gives up after its retransmissions.
    server.ignoreRequests = 100;
    const int64_t start = TickCount();
    EXPECT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 4, Mac(0), Transfer(13, "c.RD")), 3000)), 2);
    EXPECT_EQ(server.requests.count(QStringLiteral("c.RD")), 4) << "the request and three resends";
    EXPECT_GE(TickCount() - start, 300);
}

TEST_F(SimTftpTest, AResetDuringATransferAbandonsIt)
{
    server.ignoreRequests = 100;
    StartWithServer();
    Send(Request(NIMP_CMD_SET, 1, Mac(0), Transfer(10, "x.WR")));
    WaitUntil([&] { return !server.requests.isEmpty(); }, 1000);
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 2, Mac(0), Record(5, Bytes("01")))),
              ExpectedReply(NIMP_CMD_SET, 2, 0, Mac(0)));
    // The transfer's failure would have been answered after 400 ms.
    EXPECT_EQ(Receive(700), QByteArray());
    EXPECT_EQ(server.requests.size(), 1);
}

TEST_F(SimTftpTest, DevicesAskForTheirOptionsAndPaceTheirPacketsAgainstTheConsolesServer)
{
    // The options as the program reads them from its command line.
    Ktr4200FleetOptions parsed;
    QString error;
    bool help = false;
    ASSERT_TRUE(ParseFleetOptions(
        {"--tftp-blksize", "1024", "--tftp-windowsize", "4", "--tftp-block-delay", "30"}, &parsed,
        nullptr, &error, &help))
        << error.toStdString();
    for (const QStringList& bad :
         {QStringList{"--tftp-blksize", "7"}, QStringList{"--tftp-windowsize", "65"},
          QStringList{"--tftp-block-delay", "-1"}})
        EXPECT_FALSE(ParseFleetOptions(bad, &parsed, nullptr, &error, &help))
            << bad.join(' ').toStdString();
    ASSERT_TRUE(ParseFleetOptions(
        {"--tftp-blksize", "1024", "--tftp-windowsize", "4", "--tftp-block-delay", "30"}, &parsed,
        nullptr, &error, &help));

    QTemporaryDir dir;
    std::vector<VxTFTPMsg> done;
    VxTFTPServer console;
    console.SetTimeouts(100, 3);
    console.SetCallback([&done](const VxTFTPMsg& m, bool*) {
        if (m.status == TFTP_SUCCESS)
            done.push_back(m);
    });
    console.Listen({QHostAddress(QHostAddress::LocalHost)}, 0);
    QByteArray image(20 * 1024, char(0x5A)); // 20 full blocks of 1024, then an empty one
    image.replace(64, 20, "FW_VERSION=2.00.01e\n");
    QFile f(dir.filePath("fw.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(image);
    f.close();
    console.Grant(
        {TFTP_OP_READ, QHostAddress(QHostAddress::LocalHost), "fw.bin", dir.filePath("fw.bin"), 0});
    console.Grant({TFTP_OP_WRITE, QHostAddress(QHostAddress::LocalHost), "0011223344F1.RD",
                   dir.filePath("0011223344F1.RD"), 0});

    auto options = LoopbackOptions(2);
    options.tftpBlockSize = parsed.tftpBlockSize;
    options.tftpWindowSize = parsed.tftpWindowSize;
    options.tftpBlockDelayMs = parsed.tftpBlockDelayMs;
    options.tftpTimeoutMs = 1000;
    options.tftpPort = console.Port();
    StartFleet(options);

    const int64_t start = TickCount();
    ASSERT_EQ(Status(Exchange(Request(NIMP_CMD_SET, 1, Mac(0), Transfer(10, "fw.bin")), 5000)), 0);
    // ACK 0 and one ACK per window of 4 go out before the last block arrives: 6 ACKs,
    // each 30 ms late at least (the final ACK follows the device's answer).
    EXPECT_GE(TickCount() - start, 6 * 30);
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(fleet->Device(0).lastReceived.sha256, sha);
    const auto devices =
        QJsonDocument::fromJson(fleet->DumpJson()).object()[QStringLiteral("devices")].toArray();
    EXPECT_EQ(devices[0].toObject()[QStringLiteral("lastFileSha256")].toString(), sha);
    EXPECT_EQ(devices[1].toObject()[QStringLiteral("lastFileSha256")].toString(), QString());

    ASSERT_EQ(
        Status(Exchange(Request(NIMP_CMD_SET, 2, Mac(1), Transfer(13, "0011223344F1.RD")), 5000)),
        0);
    QFile stored(dir.filePath("0011223344F1.RD"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), fleet->Device(1).config.Render(fleet->Device(1).model));

    ASSERT_TRUE(WaitUntil([&] { return done.size() == 2; }, 2000));
    for (const VxTFTPMsg& m : done) {
        EXPECT_EQ(m.agreedBlockSize, 1024);
        EXPECT_EQ(m.windowSize, 4);
    }
    EXPECT_EQ(done[0].bytes, image.size());
    console.Stop();
}
