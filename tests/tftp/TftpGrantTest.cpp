// The console's way of serving: the server listens while an operation runs and serves
// only what each transfer command granted to one device.

#include "TftpTestPeer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QHostAddress kDevice = QHostAddress(QStringLiteral("127.0.0.1"));
const QHostAddress kNeighbour = QHostAddress(QStringLiteral("127.0.0.2"));

class TftpGrantTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        server.SetTimeouts(100, 1);
        server.SetCallback(events.Callback());
        server.Listen({kDevice}, 0);
        port = server.Port();
    }
    void TearDown() override { server.Stop(); }

    QString Path(const QString& name) const { return dir.filePath(name); }
    quint64 Grant(int operation, const QString& name, const QString& path, qint64 maxBytes = 0)
    {
        return server.Grant({operation, kDevice, name, path, maxBytes});
    }
    std::vector<const VxTFTPMsg*> Refusals() const
    {
        std::vector<const VxTFTPMsg*> r;
        for (const VxTFTPMsg& m : events.msgs)
            if (m.status == TFTP_REFUSED)
                r.push_back(&m);
        return r;
    }

    QTemporaryDir dir;
    TftpEvents events;
    VxTFTPServer server;
    quint16 port = 0;
};

TEST_F(TftpGrantTest, AGrantServesOnlyItsPeerItsNameAndItsKind)
{
    const QByteArray config = Pattern(1300, 1);
    WriteFile(Path("00A0C5112233.WR"), config);
    WriteFile(Path("00A0C5112233.RD"), "another file of the folder");
    Grant(TFTP_OP_READ, QStringLiteral("00A0C5112233.WR"), Path("00A0C5112233.WR"));

    // The hostile neighbour asks twice for the device's file: refused from the listening
    // port, no session, reported once.
    TftpTestPeer neighbour(kNeighbour);
    for (int i = 0; i < 2; ++i) {
        neighbour.SendTo(port, TftpTestPeer::Request(1, "00A0C5112233.WR"));
        const auto p = neighbour.Receive();
        EXPECT_EQ(p.data, Bytes("00 05 00 01 00"));
        EXPECT_EQ(p.fromPort, port);
    }
    // The device itself: another name of the folder, the name with other case, a write.
    TftpTestPeer device;
    for (const auto& [op, name, error] : {std::tuple{1, "00A0C5112233.RD", "00 05 00 01 00"},
                                          std::tuple{1, "00a0c5112233.wr", "00 05 00 01 00"},
                                          std::tuple{2, "00A0C5112233.WR", "00 05 00 02 00"}}) {
        device.SendTo(port, TftpTestPeer::Request(op, name));
        EXPECT_EQ(device.Receive().data, Bytes(error)) << name;
    }
    EXPECT_EQ(server.SessionCount(), 0);
    const auto refusals = Refusals();
    ASSERT_EQ(refusals.size(), 4u);
    EXPECT_EQ(events.msgs.size(), 4u); // no session was made for any of them
    EXPECT_EQ(refusals[0]->message, QStringLiteral("(VxTFTP) Request refused!"));
    EXPECT_EQ(refusals[0]->peerAddress, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(refusals[0]->fileName, QStringLiteral("00A0C5112233.WR"));
    EXPECT_EQ(refusals[0]->operation, TFTP_OP_READ);
    EXPECT_EQ(refusals[3]->operation, TFTP_OP_WRITE);
    EXPECT_EQ(ReadFile(Path("00A0C5112233.WR")), config);

    EXPECT_EQ(device.Fetch(port, "00A0C5112233.WR"), config);
}

TEST_F(TftpGrantTest, TheLatestMatchingGrantWinsAndARevokedGrantRefusesLaterRequests)
{
    const QByteArray older = Pattern(1500, 2), newer = Pattern(900, 3);
    WriteFile(Path("a/fw.bin"), older);
    WriteFile(Path("b/fw.bin"), newer);
    const quint64 first = Grant(TFTP_OP_READ, QStringLiteral("fw.bin"), Path("a/fw.bin"));
    const quint64 second = Grant(TFTP_OP_READ, QStringLiteral("fw.bin"), Path("b/fw.bin"));
    EXPECT_NE(first, second);
    EXPECT_EQ(server.GrantCount(), 2);
    TftpTestPeer one, two, three;
    EXPECT_EQ(one.Fetch(port, "fw.bin"), newer);
    // A grant serves one transfer: the next request gets the older grant's file.
    EXPECT_EQ(two.Fetch(port, "fw.bin"), older);
    server.Revoke(second);
    server.Revoke(first);

    // A transfer under way finishes after its grant has ended; a new request is refused.
    const quint64 third = Grant(TFTP_OP_READ, QStringLiteral("fw.bin"), Path("a/fw.bin"));
    three.SendTo(port, TftpTestPeer::Request(1, "fw.bin"));
    ASSERT_EQ(three.Receive().block(), 1);
    server.Revoke(third);
    EXPECT_EQ(server.GrantCount(), 0);
    three.Send(TftpTestPeer::Ack(1));
    auto p = three.Receive();
    EXPECT_EQ(p.payload(), older.mid(512, 512));
    three.Send(TftpTestPeer::Ack(2));
    p = three.Receive();
    EXPECT_EQ(p.payload(), older.mid(1024));
    three.Send(TftpTestPeer::Ack(3));
    ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }, 3000));
    EXPECT_EQ(events.Last(TFTP_SUCCESS)->bytes, 1500);

    TftpTestPeer late;
    late.SendTo(port, TftpTestPeer::Request(1, "fw.bin"));
    EXPECT_EQ(late.Receive().data, Bytes("00 05 00 01 00"));
}

TEST_F(TftpGrantTest, AWriteGrantStoresItsNameAtItsPathWithinItsSize)
{
    QDir().mkpath(Path("Config/Temp"));
    const QString target = Path("Config/Temp/00A0C5112233.RD");
    const QString name = QStringLiteral("00A0C5112233.RD");
    Grant(TFTP_OP_WRITE, name, target, 1000);
    const QByteArray config = Pattern(1000, 4);
    TftpTestPeer device;
    ASSERT_TRUE(device.Put(port, name.toLatin1(), config));
    EXPECT_EQ(ReadFile(target), config);
    ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }, 3000));

    // The grant is used up: another put is refused, whoever sends it.
    events.msgs.clear();
    TftpTestPeer second;
    second.SendTo(port, TftpTestPeer::Request(2, name.toLatin1()));
    EXPECT_EQ(second.Receive().data, Bytes("00 05 00 02 00"));
    EXPECT_EQ(events.Milestones(), (std::vector<int>{TFTP_GRANT_TAKEN}));

    // Over the grant's size the put fails at the block that passes it; the file stays.
    Grant(TFTP_OP_WRITE, name, target, 1000);
    events.msgs.clear();
    TftpTestPeer again;
    EXPECT_FALSE(again.Put(port, name.toLatin1(), Pattern(1500, 5)));
    ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }, 3000));
    EXPECT_EQ(events.Milestones(), (std::vector<int>{1, -1112, 0}));
    EXPECT_EQ(ReadFile(target), config);
    EXPECT_EQ(QDir(Path("Config/Temp")).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    // Granting a write gives no read.
    TftpTestPeer reader;
    reader.SendTo(port, TftpTestPeer::Request(1, name.toLatin1()));
    EXPECT_EQ(reader.Receive().data, Bytes("00 05 00 01 00"));
}

TEST_F(TftpGrantTest, AGrantedPathThatIsASymbolicLinkIsRefusedForReadAndWrite)
{
    WriteFile(Path("outside/shadow"), "SECRET");
    QDir().mkpath(Path("Temp"));
    ASSERT_TRUE(QFile::link(Path("outside/shadow"), Path("Temp/fw.bin")));
    ASSERT_TRUE(QFile::link(Path("outside/shadow"), Path("Temp/00A0C5112233.ORI")));
    Grant(TFTP_OP_READ, QStringLiteral("fw.bin"), Path("Temp/fw.bin"));
    Grant(TFTP_OP_WRITE, QStringLiteral("00A0C5112233.ORI"), Path("Temp/00A0C5112233.ORI"));
    TftpTestPeer reader, writer;
    reader.SendTo(port, TftpTestPeer::Request(1, "fw.bin"));
    EXPECT_EQ(reader.Receive().data, Bytes("00 05 00 02 00"));
    writer.SendTo(port, TftpTestPeer::Request(2, "00A0C5112233.ORI"));
    EXPECT_EQ(writer.Receive().data, Bytes("00 05 00 02 00"));
    ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }, 3000));
    EXPECT_EQ(events.Statuses(0), (std::vector<int>{1, -1103, 0}));
    EXPECT_EQ(events.Statuses(1), (std::vector<int>{1, -1103, 0}));
    EXPECT_EQ(ReadFile(Path("outside/shadow")), QByteArray("SECRET"));
    EXPECT_EQ(QDir(Path("outside")).entryList(QDir::Files | QDir::Hidden), QStringList{"shadow"});
}

TEST_F(TftpGrantTest, TheServerListensOnlyOnItsAddressesAndStopsListeningAtOnce)
{
    const QByteArray image = Pattern(2000, 6);
    WriteFile(Path("fw.bin"), image);
    Grant(TFTP_OP_READ, QStringLiteral("fw.bin"), Path("fw.bin"));
    TftpTestPeer device;
    device.SendTo(port, TftpTestPeer::Request(1, "fw.bin"), kNeighbour); // not bound there
    EXPECT_FALSE(device.Receive(300).valid());

    server.Listen({kDevice}, 0); // the same again: nothing changes
    EXPECT_EQ(server.Port(), port);
    server.Listen({kNeighbour}, port);
    EXPECT_EQ(server.LocalAddress(), QStringLiteral("127.0.0.2"));
    device.SendTo(port, TftpTestPeer::Request(1, "fw.bin"));
    EXPECT_FALSE(device.Receive(300).valid());
    device.SendTo(port, TftpTestPeer::Request(1, "fw.bin"), kNeighbour);
    ASSERT_EQ(device.Receive().block(), 1);

    // Stopping to listen leaves the transfer under way alone.
    server.StopListening();
    EXPECT_FALSE(server.IsListening());
    for (int block = 1; block <= 4; ++block) { // 2,000 bytes: 3 full blocks and a short one
        device.SendTo(device.sessionPort, TftpTestPeer::Ack(block), kNeighbour);
        if (block < 4) {
            EXPECT_EQ(device.Receive().block(), block + 1);
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return server.SessionCount() == 0; }, 3000));
    ASSERT_NE(events.Last(TFTP_SUCCESS), nullptr);
    EXPECT_EQ(events.Last(TFTP_SUCCESS)->bytes, 2000);
    TftpTestPeer late;
    late.SendTo(port, TftpTestPeer::Request(1, "fw.bin"), kNeighbour);
    EXPECT_FALSE(late.Receive(300).valid());
}

} // namespace
