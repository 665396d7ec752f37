#include "TftpTestPeer.h"
#include "common/VxError.h"
#include "tftp/TftpDatagramSocket.h"

#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Statuses = std::vector<int>;

class TftpServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(outer.isValid());
        root = outer.filePath(QStringLiteral("root"));
        QDir().mkpath(root);
        // 1 s and no resend unless a test says otherwise, so that a session left open
        // by a test does not hold up Stop at the end.
        server.SetTimeouts(100, 1);
        server.SetCallback(events.Callback());
        server.Start(root, 0, QHostAddress::LocalHost);
        port = server.Port();
    }
    void TearDown() override { server.Stop(); }

    QString Path(const QString& name) const { return QDir(root).filePath(name); }
    // Runs the event loop until the server has removed every session.
    bool Drained(int ms = 3000)
    {
        return WaitUntil([&] { return server.SessionCount() == 0; }, ms);
    }

    QTemporaryDir outer;
    QString root;
    TftpEvents events;
    VxTFTPServer server;
    quint16 port = 0;
    TftpTestPeer peer;
};

TEST_F(TftpServerTest, ReadOfAMissingFileSendsErrorOneAndReportsNotFound)
{
    peer.SendTo(port, TftpTestPeer::Request(1, "absent.cfg"));
    EXPECT_EQ(peer.Receive().data, Bytes("00 05 00 01 00"));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Statuses(), (Statuses{1, -1102, 0}));
    EXPECT_EQ(events.msgs[1].message, QStringLiteral("(VxTFTP) File not found!"));
    EXPECT_EQ(events.msgs[0].fileName, QStringLiteral("absent.cfg"));
    EXPECT_EQ(events.msgs[0].peerAddress, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(events.msgs[0].peerPort, peer.socket.localPort());
    EXPECT_EQ(events.msgs[0].port, port);
    EXPECT_EQ(events.msgs[0].operation, 1);
    EXPECT_EQ(events.msgs[0].mode, QStringLiteral("octet"));
    EXPECT_EQ(events.msgs[0].sessionNumber, 0);
}

TEST_F(TftpServerTest, ReadsSplitIntoBlocksWithAnEmptyLastBlockAfterAFullOne)
{
    struct Case
    {
        int size;
        std::vector<int> blockSizes;
    };
    const std::vector<Case> cases = {
        {700, {512, 188}}, {1024, {512, 512, 0}}, {0, {0}}, {512 * 3 + 1, {512, 512, 512, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        events.msgs.clear();
        const QByteArray content = Pattern(c.size, c.size);
        const QByteArray name = "f" + QByteArray::number(c.size) + ".bin";
        WriteFile(Path(QString::fromLatin1(name)), content);

        TftpTestPeer client;
        client.SendTo(port, TftpTestPeer::Request(1, name));
        QByteArray received;
        for (size_t i = 0; i < c.blockSizes.size(); ++i) {
            const auto p = client.Receive();
            ASSERT_EQ(p.opcode(), 3);
            ASSERT_EQ(p.block(), int(i + 1));
            ASSERT_EQ(p.payload().size(), c.blockSizes[i]);
            EXPECT_NE(p.fromPort, port); // every session answers from a port of its own
            received += p.payload();
            client.Send(TftpTestPeer::Ack(int(i + 1)));
        }
        ASSERT_TRUE(Drained());
        EXPECT_EQ(received, content);
        EXPECT_EQ(events.Milestones(), (Statuses{1, 3, 0}));
        EXPECT_EQ(events.Last(3)->bytes, c.size);
        EXPECT_EQ(events.Last(3)->blockSize, c.blockSizes.back());
        EXPECT_EQ(events.Statuses().size(), c.blockSizes.size() + 3); // one 2 per DATA sent
        EXPECT_FALSE(client.Receive(100).valid());
    }
}

TEST_F(TftpServerTest, WritesStoreExactlyWhatArrivedEmptyFilesIncluded)
{
    ASSERT_TRUE(peer.Put(port, "empty.cfg", QByteArray()));
    ASSERT_TRUE(Drained());
    EXPECT_TRUE(QFileInfo::exists(Path("empty.cfg")));
    EXPECT_EQ(QFileInfo(Path("empty.cfg")).size(), 0);
    EXPECT_EQ(events.Milestones(), (Statuses{1, 3, 0}));
    EXPECT_EQ(events.Last(3)->operation, 2);

    events.msgs.clear();
    const QByteArray content = Pattern(1300, 3);
    TftpTestPeer other;
    EXPECT_FALSE(other.Put(port, "sub/dev.cfg", content)); // no folder is made for a put
    QDir(root).mkdir("sub");
    events.msgs.clear();
    TftpTestPeer third;
    ASSERT_TRUE(third.Put(port, "sub/dev.cfg", content)); // sub-folders of the root are fine
    ASSERT_TRUE(Drained());
    EXPECT_EQ(ReadFile(Path("sub/dev.cfg")), content);
    EXPECT_EQ(events.Last(3)->bytes, 1300);
    EXPECT_EQ(events.Last(3)->sessionNumber, 2);
}

TEST_F(TftpServerTest, RepeatedRequestFromTheSamePortIsIgnoredFromANewPortServed)
{
    WriteFile(Path("a.bin"), Pattern(600));
    const QByteArray rrq = TftpTestPeer::Request(1, "a.bin");
    peer.SendTo(port, rrq);
    ASSERT_EQ(peer.Receive().block(), 1);
    peer.SendTo(port, rrq);
    EXPECT_FALSE(peer.Receive(300).valid());
    EXPECT_EQ(server.SessionCount(), 1);

    TftpTestPeer second;
    second.SendTo(port, rrq);
    const auto p = second.Receive();
    EXPECT_EQ(p.block(), 1);
    EXPECT_NE(p.fromPort, peer.sessionPort);
    EXPECT_EQ(server.SessionCount(), 2);
}

TEST_F(TftpServerTest, DuplicateAckIsIgnoredAndTriggersNoResend)
{
    WriteFile(Path("d.bin"), Pattern(1500));
    peer.SendTo(port, TftpTestPeer::Request(1, "d.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    peer.Send(TftpTestPeer::Ack(1));
    ASSERT_EQ(peer.Receive().block(), 2);
    peer.Send(TftpTestPeer::Ack(1));
    peer.Send(TftpTestPeer::Ack(0));
    EXPECT_FALSE(peer.Receive(400).valid());
    peer.Send(TftpTestPeer::Ack(2));
    const auto p = peer.Receive();
    EXPECT_EQ(p.block(), 3);
    EXPECT_EQ(p.payload(), Pattern(1500).mid(1024));
}

TEST_F(TftpServerTest, SilentReaderGetsTheBlockResentThenTimesOut)
{
    server.SetTimeouts(20, 3); // 200 ms
    WriteFile(Path("r.bin"), Pattern(900));
    peer.SendTo(port, TftpTestPeer::Request(1, "r.bin"));
    std::vector<TftpTestPeer::Packet> copies;
    for (int i = 0; i < 4; ++i) {
        auto p = peer.Receive(1500);
        if (!p.valid())
            break;
        copies.push_back(p);
    }
    ASSERT_EQ(copies.size(), 3u);
    for (const auto& c : copies)
        EXPECT_EQ(c.data, copies[0].data);
    // A resend never comes before the time-out has passed.
    EXPECT_GE(copies[1].at - copies[0].at, 190);
    EXPECT_GE(copies[2].at - copies[1].at, 190);
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Statuses(), (Statuses{1, 2, 2, 2, -1113, 0}));
    EXPECT_EQ(events.msgs[1].transmissions, 1);
    EXPECT_EQ(events.msgs[3].transmissions, 3);
    EXPECT_EQ(events.msgs[4].message, QStringLiteral("(VxTFTP) Timeout!"));
}

TEST_F(TftpServerTest, SilentWriterTimesOutWithoutAnAckResentAndTheOldFileKept)
{
    server.SetTimeouts(20, 3);
    WriteFile(Path("keep.cfg"), "OLD CONTENT");
    peer.SendTo(port, TftpTestPeer::Request(2, "keep.cfg"));
    ASSERT_EQ(peer.Receive().data, Bytes("00 04 00 00"));
    peer.Send(TftpTestPeer::Data(1, Pattern(512)));
    ASSERT_EQ(peer.Receive().data, Bytes("00 04 00 01"));
    EXPECT_FALSE(peer.Receive(600).valid());
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1113, 0}));
    EXPECT_EQ(ReadFile(Path("keep.cfg")), QByteArray("OLD CONTENT"));
    EXPECT_EQ(QDir(root).entryList(QDir::Files), QStringList{"keep.cfg"}); // no temporary left
}

TEST_F(TftpServerTest, LostAcksDuringAPutAreSentAgainAndTheDataWrittenOnce)
{
    const QByteArray content = Pattern(1100, 5);
    peer.SendTo(port, TftpTestPeer::Request(2, "put.cfg"));
    ASSERT_EQ(peer.Receive().block(), 0);
    // ACK 0 "lost": the device asks again, and must get it.
    peer.SendTo(port, TftpTestPeer::Request(2, "put.cfg"));
    ASSERT_EQ(peer.Receive().data, Bytes("00 04 00 00"));
    EXPECT_EQ(server.SessionCount(), 1);
    for (int block = 1; block <= 3; ++block) {
        const QByteArray data = TftpTestPeer::Data(block, content.mid((block - 1) * 512, 512));
        peer.Send(data);
        ASSERT_EQ(peer.Receive().block(), block);
        if (block < 3) {
            // ACK lost: the device resends the block, gets its ACK again.
            peer.Send(data);
            ASSERT_EQ(peer.Receive().data, Bytes("00 04") + TftpTestPeer::Block(block));
        }
    }
    ASSERT_TRUE(Drained());
    EXPECT_EQ(ReadFile(Path("put.cfg")), content);
    EXPECT_EQ(events.Last(3)->bytes, 1100);
    // The final ACK lost: the session is gone, yet the final block is acknowledged again
    // for a while, and nothing is written twice.
    const QByteArray last = TftpTestPeer::Data(3, content.mid(1024));
    peer.Send(last);
    EXPECT_EQ(peer.Receive().data, Bytes("00 04 00 03"));
    peer.Send(TftpTestPeer::Data(2, content.mid(512, 512)));
    EXPECT_FALSE(peer.Receive(200).valid());
    EXPECT_EQ(ReadFile(Path("put.cfg")), content);
    EXPECT_EQ(events.Milestones(), (Statuses{1, 3, 0}));
}

TEST_F(TftpServerTest, EveryCompletedPutOfABatchStillAcknowledgesItsFinalBlock)
{
    // A batch reads the configuration of one device after the other: their final ACKs
    // all stay answerable together, and each answers only its own peer and block.
    constexpr int kPuts = 40;
    server.SetTimeouts(500, 1); // each stays answerable for 5 s, even in a slow build
    std::vector<std::unique_ptr<TftpTestPeer>> peers;
    for (int i = 0; i < kPuts; ++i) {
        peers.push_back(std::make_unique<TftpTestPeer>());
        ASSERT_TRUE(peers.back()->Put(port, QStringLiteral("dev%1.cfg").arg(i).toLatin1(),
                                      Pattern(600, i)));
    }
    ASSERT_TRUE(Drained());
    for (int i : {0, kPuts / 2, kPuts - 1}) {
        SCOPED_TRACE(i);
        peers[size_t(i)]->Send(TftpTestPeer::Data(2, Pattern(600, i).mid(512)));
        EXPECT_EQ(peers[size_t(i)]->Receive().data, Bytes("00 04 00 02"));
        peers[size_t(i)]->Send(TftpTestPeer::Data(1, Pattern(600, i).left(512)));
        EXPECT_FALSE(peers[size_t(i)]->Receive(100).valid());
    }
    for (int i = 0; i < kPuts; ++i)
        EXPECT_EQ(ReadFile(Path(QStringLiteral("dev%1.cfg").arg(i))), Pattern(600, i)) << i;
}

TEST_F(TftpServerTest, CancelEndsTheSessionAtTheNextPacketWithoutTellingThePeer)
{
    events.cancelOnStatus = TFTP_TRANSFERRING;
    WriteFile(Path("c.bin"), Pattern(2000));
    peer.SendTo(port, TftpTestPeer::Request(1, "c.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    peer.Send(TftpTestPeer::Ack(1));
    EXPECT_FALSE(peer.Receive(300).valid());
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Statuses(), (Statuses{1, 2, -1114, 0}));

    // A cancelled put keeps the file it would have replaced.
    events.msgs.clear();
    events.cancelAfter = 1;
    WriteFile(Path("old.cfg"), "OLD");
    TftpTestPeer writer;
    writer.SendTo(port, TftpTestPeer::Request(2, "old.cfg"));
    ASSERT_EQ(writer.Receive().block(), 0);
    writer.Send(TftpTestPeer::Data(1, Pattern(512)));
    ASSERT_EQ(writer.Receive().block(), 1);
    writer.Send(TftpTestPeer::Data(2, "tail"));
    EXPECT_FALSE(writer.Receive(300).valid());
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1114, 0}));
    EXPECT_EQ(ReadFile(Path("old.cfg")), QByteArray("OLD"));
}

TEST_F(TftpServerTest, ErrorFromThePeerEndsTheTransferAtOnce)
{
    WriteFile(Path("e.bin"), Pattern(1000));
    peer.SendTo(port, TftpTestPeer::Request(1, "e.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    peer.Send(Bytes("00 05 00 00 61 62 00"));
    peer.Send(TftpTestPeer::Ack(1)); // too late: the session is over
    EXPECT_FALSE(peer.Receive(300).valid());
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Statuses(), (Statuses{1, 2, -1117, 0}));
    EXPECT_EQ(events.msgs[2].message, QStringLiteral("(VxTFTP) The peer ended the transfer!"));

    // A put ended by its peer keeps the old file.
    events.msgs.clear();
    WriteFile(Path("e.cfg"), "OLD");
    TftpTestPeer writer;
    writer.SendTo(port, TftpTestPeer::Request(2, "e.cfg"));
    ASSERT_EQ(writer.Receive().block(), 0);
    writer.Send(TftpTestPeer::Data(1, Pattern(512)));
    ASSERT_EQ(writer.Receive().block(), 1);
    writer.Send(Bytes("00 05 00 03 00"));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1117, 0}));
    EXPECT_EQ(ReadFile(Path("e.cfg")), QByteArray("OLD"));
    EXPECT_EQ(QDir(root).entryList(QDir::Files), (QStringList{"e.bin", "e.cfg"}));
}

TEST_F(TftpServerTest, ADataBlockOverTheAgreedSizeFailsThePutWithErrorFourAndKeepsTheOldFile)
{
    struct Case
    {
        int blockSize;
        std::vector<std::pair<QByteArray, QByteArray>> options;
    };
    for (const Case& c : {Case{512, {}}, Case{1024, {{"blksize", "1024"}}}}) {
        SCOPED_TRACE(c.blockSize);
        events.msgs.clear();
        WriteFile(Path("long.cfg"), "OLD");
        TftpTestPeer writer;
        writer.SendTo(port, TftpTestPeer::Request(2, "long.cfg", "octet", c.options));
        ASSERT_TRUE(writer.Receive().valid()); // ACK 0 or OACK
        writer.Send(TftpTestPeer::Data(1, Pattern(c.blockSize)));
        ASSERT_EQ(writer.Receive().data, Bytes("00 04 00 01"));
        writer.Send(TftpTestPeer::Data(2, Pattern(c.blockSize + 88)));
        EXPECT_EQ(writer.Receive().data, Bytes("00 05 00 04 00"));
        ASSERT_TRUE(Drained());
        EXPECT_EQ(events.Milestones(), (Statuses{1, -1118, 0}));
        EXPECT_FALSE(events.Has(TFTP_SUCCESS));
        EXPECT_EQ(ReadFile(Path("long.cfg")), QByteArray("OLD"));
        EXPECT_EQ(QDir(root).entryList(QDir::Files), QStringList{"long.cfg"});
    }
}

TEST_F(TftpServerTest, PacketsFromAStrangerGetErrorFiveAndLeaveTheTransferAlone)
{
    WriteFile(Path("t.bin"), Pattern(1200));
    peer.SendTo(port, TftpTestPeer::Request(1, "t.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    TftpTestPeer stranger;
    stranger.SendTo(peer.sessionPort, TftpTestPeer::Ack(1));
    EXPECT_EQ(stranger.Receive().data, Bytes("00 05 00 05 00"));
    EXPECT_FALSE(peer.Receive(200).valid()); // the stranger's ACK moved nothing
    peer.Send(TftpTestPeer::Ack(1));
    const auto p = peer.Receive();
    EXPECT_EQ(p.block(), 2);
    EXPECT_EQ(p.fromPort, peer.sessionPort);
    EXPECT_EQ(stranger.socket.hasPendingDatagrams(), false);
}

TEST_F(TftpServerTest, NamesLeavingTheRootAreRefusedAndTouchNothingOutside)
{
    WriteFile(outer.filePath("secret.txt"), "SECRET");
    const std::vector<QByteArray> names = {"../secret.txt",
                                           "sub/../../secret.txt",
                                           "..",
                                           (outer.filePath("secret.txt")).toUtf8(),
                                           "/etc/hostname",
                                           "C:secret.txt",
                                           "c:/secret.txt",
                                           "..\\secret.txt",
                                           "a\\b",
                                           "",
                                           QByteArray("a\x01"
                                                      "b"),
                                           QByteArray("line\nbreak"),
                                           "x/\x7f"};
    for (const QByteArray& name : names) {
        SCOPED_TRACE(name.toStdString());
        for (int op : {1, 2}) {
            events.msgs.clear();
            TftpTestPeer client;
            client.SendTo(port, TftpTestPeer::Request(op, name));
            EXPECT_EQ(client.Receive().data, Bytes("00 05 00 02 00"));
            ASSERT_TRUE(Drained());
            EXPECT_EQ(events.Statuses(), (Statuses{1, -1103, 0}));
        }
    }
    EXPECT_EQ(ReadFile(outer.filePath("secret.txt")), QByteArray("SECRET"));
    EXPECT_EQ(QDir(outer.path()).entryList(QDir::Files), QStringList{"secret.txt"});
    EXPECT_TRUE(QDir(root).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    // An innocent name with dots still works.
    WriteFile(Path("fw..v2.bin"), "ok");
    EXPECT_EQ(peer.Fetch(port, "fw..v2.bin"), QByteArray("ok"));
}

TEST_F(TftpServerTest, SymbolicLinksInsideTheFolderAreNeverFollowed)
{
    WriteFile(outer.filePath("secret.txt"), "SECRET");
    QDir().mkpath(outer.filePath("elsewhere"));
    ASSERT_TRUE(QFile::link(outer.filePath("secret.txt"), Path("link.txt")));
    ASSERT_TRUE(QFile::link(outer.filePath("elsewhere"), Path("linkdir")));
    ASSERT_TRUE(
        QFile::link(outer.filePath("gone.txt"), Path("dangling.txt"))); // a put would create it
    for (const QByteArray name : {"link.txt", "linkdir/x.txt", "dangling.txt"}) {
        for (int op : {1, 2}) {
            SCOPED_TRACE(name.toStdString() + (op == 1 ? " read" : " write"));
            events.msgs.clear();
            WriteFile(outer.filePath("elsewhere/x.txt"), "ELSEWHERE");
            TftpTestPeer client;
            client.SendTo(port, TftpTestPeer::Request(op, name));
            EXPECT_EQ(client.Receive().data, Bytes("00 05 00 02 00"));
            ASSERT_TRUE(Drained());
            EXPECT_EQ(events.Milestones(), (Statuses{1, -1103, 0}));
        }
    }
    EXPECT_EQ(ReadFile(outer.filePath("secret.txt")), QByteArray("SECRET"));
    EXPECT_EQ(ReadFile(outer.filePath("elsewhere/x.txt")), QByteArray("ELSEWHERE"));
    EXPECT_FALSE(QFileInfo::exists(outer.filePath("gone.txt")));
    EXPECT_EQ(QDir(outer.filePath("elsewhere")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"x.txt"});
    EXPECT_EQ(QDir(root).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"dangling.txt", "link.txt"})); // no temporary file left either
    // The served folder itself may be reached through a link.
    const QString alias = outer.filePath("alias");
    ASSERT_TRUE(QFile::link(root, alias));
    WriteFile(Path("real.txt"), "REAL");
    server.Start(alias, 0, QHostAddress::LocalHost);
    EXPECT_EQ(peer.Fetch(port, "real.txt"), QByteArray("REAL"));
}

TEST_F(TftpServerTest, TheFileSizeLimitRefusesLargerReadsAndFailsLargerPuts)
{
    server.SetMaxFileSize(1000);
    WriteFile(Path("big.bin"), Pattern(1001));
    WriteFile(Path("fits.bin"), Pattern(1000));
    peer.SendTo(port, TftpTestPeer::Request(1, "big.bin"));
    EXPECT_EQ(peer.Receive().opcode(), 5);
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Statuses(), (Statuses{1, -1112, 0}));
    EXPECT_EQ(events.msgs[1].message, QStringLiteral("(VxTFTP) File is too large to transfer!"));
    TftpTestPeer reader;
    EXPECT_EQ(reader.Fetch(port, "fits.bin"), Pattern(1000));
    ASSERT_TRUE(Drained());

    events.msgs.clear();
    WriteFile(Path("up.bin"), "OLD");
    TftpTestPeer writer;
    EXPECT_FALSE(writer.Put(port, "up.bin", Pattern(1200)));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1112, 0}));
    EXPECT_EQ(ReadFile(Path("up.bin")), QByteArray("OLD"));
    // A put that announces its size (RFC 2349) is refused before it starts.
    TftpTestPeer announcing;
    announcing.SendTo(port, TftpTestPeer::Request(2, "up.bin", "octet", {{"tsize", "1200"}}));
    EXPECT_EQ(announcing.Receive().data.left(4), Bytes("00 05 00 03"));
}

// Reads a file with a window, acknowledging the last block of each; returns the wire
// block numbers in the order received.
std::vector<int> FetchWindowed(TftpTestPeer& client, quint16 port, const QByteArray& name,
                               int blockSize, int window, QByteArray* content)
{
    std::vector<int> numbers;
    client.SendTo(port, TftpTestPeer::Request(1, name, "octet",
                                              {{"blksize", QByteArray::number(blockSize)},
                                               {"windowsize", QByteArray::number(window)}}));
    if (client.Receive().opcode() != 6)
        return numbers;
    client.Send(TftpTestPeer::Ack(0));
    for (int n = 0; n < 200000; ++n) {
        const auto p = client.Receive();
        if (!p.valid() || p.opcode() != 3)
            return numbers;
        numbers.push_back(p.block());
        *content += p.payload();
        const bool last = p.payload().size() < blockSize;
        if (last || numbers.size() % size_t(window) == 0)
            client.Send(TftpTestPeer::Ack(p.block()));
        if (last)
            break;
    }
    return numbers;
}

TEST_F(TftpServerTest, BlockNumbersRollOverToZeroForMoreThan65535Blocks)
{
    server.SetTimeouts(500, 3);
    const QByteArray content = Pattern(65537 * 8 + 3, 4); // 65,538 blocks of 8 bytes
    WriteFile(Path("roll.bin"), content);
    QByteArray received;
    const std::vector<int> numbers = FetchWindowed(peer, port, "roll.bin", 8, 64, &received);
    ASSERT_EQ(numbers.size(), 65538u);
    EXPECT_EQ(numbers[65534], 65535);
    EXPECT_EQ(numbers[65535], 0);
    EXPECT_EQ(numbers[65537], 2);
    EXPECT_EQ(received, content);
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Last(3)->bytes, content.size());

    // And a put of as many blocks.
    TftpTestPeer writer;
    writer.SendTo(port, TftpTestPeer::Request(2, "rolled.bin", "octet",
                                              {{"blksize", "8"}, {"windowsize", "64"}}));
    ASSERT_EQ(writer.Receive().opcode(), 6);
    for (int64_t block = 1; block <= 65538; ++block) {
        writer.Send(TftpTestPeer::Data(int(block & 0xFFFF), content.mid(int((block - 1) * 8), 8)));
        if (block % 64 == 0 || block == 65538) {
            ASSERT_EQ(writer.Receive().data,
                      Bytes("00 04") + TftpTestPeer::Block(int(block & 0xFFFF)))
                << block;
        }
    }
    ASSERT_TRUE(Drained());
    EXPECT_EQ(ReadFile(Path("rolled.bin")), content);
}

TEST_F(TftpServerTest, AFileThatChangesWhileReadEndsInAnErrorNotASplicedSuccess)
{
    // Cut short, and overwritten in place with other bytes of the same size.
    const std::function<void(const QString&)> changes[] = {
        [](const QString& path) { ASSERT_TRUE(QFile::resize(path, 1000)); },
        [](const QString& path) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_EQ(f.write(QByteArray(2000, 'N')), 2000);
        },
    };
    int round = 0;
    for (const auto& change : changes) {
        const int size = 600 * 1024 + 100; // larger than what is read ahead in one go
        const QString name = QStringLiteral("changed%1.bin").arg(++round);
        WriteFile(Path(name), Pattern(size));
        peer.SendTo(port, TftpTestPeer::Request(1, name.toLatin1()));
        ASSERT_EQ(peer.Receive().block(), 1);
        change(Path(name));
        TftpTestPeer::Packet p;
        for (int block = 1; block <= size / 512 + 1; ++block) {
            peer.Send(TftpTestPeer::Ack(block));
            p = peer.Receive();
            if (p.opcode() != 3)
                break;
            ASSERT_EQ(p.payload().size(), 512) << round << " " << block;
        }
        EXPECT_EQ(p.opcode(), 5) << round;
        EXPECT_TRUE(p.data.contains("File changed while it was read")) << round;
        ASSERT_TRUE(Drained());
        EXPECT_FALSE(events.Has(TFTP_SUCCESS));
        EXPECT_EQ(events.Milestones(), (Statuses{1, -1111, 0}));
        events.msgs.clear();
    }
}

TEST_F(TftpServerTest, AWriteThatFailsSendsErrorThreeAndKeepsTheOldFile)
{
    WriteFile(Path("full.cfg"), "OLD");
    // The file size limit makes the third block's write fail like a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QByteArray content = Pattern(2000);
    peer.SendTo(port, TftpTestPeer::Request(2, "full.cfg"));
    TftpTestPeer::Packet p = peer.Receive();
    for (int block = 1; block <= 4 && p.opcode() == 4; ++block) {
        peer.Send(TftpTestPeer::Data(block, content.mid((block - 1) * 512, 512)));
        p = peer.Receive();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(p.data, Bytes("00 05 00 03 00"));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1111, 0}));
    EXPECT_EQ(ReadFile(Path("full.cfg")), QByteArray("OLD"));
    EXPECT_EQ(QDir(root).entryList(QDir::Files), QStringList{"full.cfg"});
}

TEST_F(TftpServerTest, MalformedRequestsAreIgnored)
{
    WriteFile(Path("m.bin"), "m");
    for (const QByteArray& junk :
         {Bytes("00 01 6d"), Bytes("00 03 00 01 41"), Bytes("00 04 00 00"),
          Bytes("00 01 6d 2e 62 69 6e"), QByteArray("\x00\x09m.bin\x00octet\x00", 13)})
        peer.SendTo(port, junk);
    EXPECT_FALSE(peer.Receive(300).valid());
    EXPECT_TRUE(events.msgs.empty());
    // Then a good one is served.
    EXPECT_EQ(peer.Fetch(port, "m.bin"), QByteArray("m"));
}

// Resident memory of this process, in bytes.
long ResidentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().split(' ').value(1).toLong() * ::sysconf(_SC_PAGESIZE);
}

TEST_F(TftpServerTest, AFloodOfUnansweredReadsIsBoundedAndADeviceIsStillServed)
{
    // The per-peer limit on loopback: 127.0.0.2 is the hostile neighbour, 127.0.0.1 the device.
    server.SetSessionLimits(256, 8, false);
    server.SetTimeouts(200, 1); // 2 s: the flood's sessions live through the test
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit usual = old;
    usual.rlim_cur = std::min<rlim_t>(1024, old.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &usual), 0);
    const QByteArray image = Pattern(1 << 20, 6);
    WriteFile(Path("fw.bin"), image);

    // 2,000 requests, each from a port of its own, none ever acknowledged.
    sockaddr_in to = TftpDatagramSocket::Address(QHostAddress::LocalHost, port);
    const QByteArray rrq = TftpTestPeer::Request(1, "fw.bin");
    TftpTestPeer probe(QHostAddress(QStringLiteral("127.0.0.2")));
    QByteArray busyReply;
    for (int i = 0; i < 2000; ++i) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in me = TftpDatagramSocket::Address(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        ::bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof me);
        ::sendto(fd, rrq.constData(), size_t(rrq.size()), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        ::close(fd);
        if (i % 50 == 49)
            WaitMilliseconds(2); // lets the server take them in, as a LAN paces them
    }
    probe.SendTo(port, rrq);
    const auto busy = probe.Receive();
    WaitMilliseconds(100);
    EXPECT_EQ(busy.data, Bytes("00 05 00 00 62 75 73 79 00")); // ERROR 0 "busy"
    EXPECT_EQ(busy.fromPort, port);                            // from the listening socket
    EXPECT_LE(server.SessionCount(), 8);
    EXPECT_LT(ResidentBytes(), 100L << 20) << ResidentBytes();
    int busyReports = 0;
    for (const VxTFTPMsg& m : events.msgs) {
        if (m.status == TFTP_BUSY) {
            ++busyReports;
            EXPECT_EQ(m.peerAddress, QStringLiteral("127.0.0.2"));
            EXPECT_EQ(m.message, QStringLiteral("(VxTFTP) Too many sessions!"));
        }
    }
    EXPECT_EQ(busyReports, 1);

    TftpTestPeer device;
    EXPECT_EQ(device.Fetch(port, "fw.bin"), image);
    setrlimit(RLIMIT_NOFILE, &old);
}

TEST_F(TftpServerTest, TheTotalLimitHoldsOnLoopbackWhereThePerPeerLimitDoesNot)
{
    server.SetSessionLimits(3, 1);
    server.SetTimeouts(200, 1);
    WriteFile(Path("a.bin"), Pattern(2000));
    std::vector<std::unique_ptr<TftpTestPeer>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<TftpTestPeer>());
        clients.back()->SendTo(port, TftpTestPeer::Request(1, "a.bin"));
        const auto p = clients.back()->Receive();
        EXPECT_EQ(p.opcode(), i < 3 ? 3 : 5) << i;
    }
    EXPECT_EQ(server.SessionCount(), 3);
}

TEST_F(TftpServerTest, StartWhileListeningOnlyChangesTheRoot)
{
    QTemporaryDir other;
    WriteFile(QDir(other.path()).filePath("o.bin"), "other");
    server.Start(other.path(), 0, QHostAddress::LocalHost);
    EXPECT_EQ(server.Port(), port);
    EXPECT_EQ(server.RootDirectory(), other.path());
    EXPECT_EQ(peer.Fetch(port, "o.bin"), QByteArray("other"));
}

TEST_F(TftpServerTest, StartOnATakenPortRaisesWithTheReason)
{
    VxTFTPServer second;
    try {
        second.Start(root, port, QHostAddress::LocalHost);
        FAIL() << "bound a port in use";
    } catch (const VxError& e) {
        EXPECT_EQ(e.code(), -1109);
        EXPECT_EQ(
            e.message(),
            QStringLiteral("(VxTFTP) Fail to open socket!Please check if the network is ready."));
    }
    EXPECT_FALSE(second.IsListening());
    EXPECT_TRUE(second.StartErrorDetail().contains(QStringLiteral("already in use")));
    EXPECT_TRUE(second.StartErrorDetail().contains(QString::number(port)));
}

TEST_F(TftpServerTest, StopWaitsForALiveSessionToEnd)
{
    server.SetTimeouts(30, 1);
    WriteFile(Path("s.bin"), Pattern(800));
    peer.SendTo(port, TftpTestPeer::Request(1, "s.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    const int64_t t0 = TickCount();
    server.Stop();
    EXPECT_LT(TickCount() - t0, 10000);
    EXPECT_FALSE(server.IsListening());
    EXPECT_EQ(server.SessionCount(), 0);
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1113, 0}));
    // Not listening any more: a request gets no answer.
    TftpTestPeer late;
    late.SendTo(port, TftpTestPeer::Request(1, "s.bin"));
    EXPECT_FALSE(late.Receive(200).valid());
}

TEST_F(TftpServerTest, StopGivesUpAfterTenSecondsAndCancelsWhatIsLeft)
{
    server.SetTimeouts(3000, 3); // 30 s: the session outlives Stop's wait
    WriteFile(Path("w.bin"), Pattern(800));
    peer.SendTo(port, TftpTestPeer::Request(1, "w.bin"));
    ASSERT_EQ(peer.Receive().block(), 1);
    const int64_t t0 = TickCount();
    server.Stop();
    const int64_t waited = TickCount() - t0;
    EXPECT_GE(waited, 9900);
    EXPECT_LT(waited, 30000);
    EXPECT_EQ(server.SessionCount(), 0);
    EXPECT_EQ(events.Milestones(), (Statuses{1, -1114, 0}));
}

} // namespace
