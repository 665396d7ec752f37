// Options a client asks for in its request: blksize, tsize, timeout (RFC 2348, 2349) and
// windowsize (RFC 7440), alone and together, and windows that lose a block or an ACK.

#include "tftp/TftpOptions.h"

#include "TftpTestPeer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Options = std::vector<std::pair<QByteArray, QByteArray>>;
using OptionMap = std::map<QByteArray, QByteArray>;

TftpOptions Negotiate(const Options& options, bool loopback)
{
    QByteArray bytes;
    for (const auto& [name, value] : options)
        bytes.append(name).append('\0').append(value).append('\0');
    return TftpOptions::Negotiate(bytes.constData(), bytes.size(), 0, loopback);
}

TEST(TftpOptions, ValuesAreCappedOrIgnoredAsTheRfcsSay)
{
    TftpOptions o = Negotiate({{"BlkSize", "70000"},
                               {"tsize", "0"},
                               {"timeout", "3"},
                               {"windowsize", "100"},
                               {"foo", "1"},
                               {"blksize", "1024"}}, // a repeat does not count
                              true);
    EXPECT_EQ(o.blockSize, 65464);
    EXPECT_EQ(o.windowSize, 64);
    EXPECT_EQ(o.timeoutSeconds, 3);
    o.transferSize = 5000; // a read answers the file's size
    const QByteArray oack = o.OptionAck();
    EXPECT_EQ(oack.left(2), QByteArray("\0\6", 2));
    EXPECT_EQ(
        TftpTestPeer::OptionAck(oack),
        (OptionMap{
            {"blksize", "65464"}, {"tsize", "5000"}, {"timeout", "3"}, {"windowsize", "64"}}));
    // A peer off this machine gets blocks that fit an Ethernet frame.
    EXPECT_EQ(Negotiate({{"blksize", "8192"}}, false).blockSize, 1468);
    EXPECT_EQ(Negotiate({{"blksize", "1024"}}, false).blockSize, 1024);
    // Out of range or malformed: not acknowledged, so the plain exchange follows.
    for (const Options& ignored : std::vector<Options>{{{"blksize", "7"}},
                                                       {{"windowsize", "0"}},
                                                       {{"timeout", "0"}},
                                                       {{"timeout", "256"}},
                                                       {{"blksize", "12a"}},
                                                       {{"blksize", ""}},
                                                       {{"foo", "1"}}}) {
        EXPECT_FALSE(Negotiate(ignored, true).Any()) << ignored.front().first.toStdString();
    }
    const QByteArray unterminated("blksize\0"
                                  "1024",
                                  12);
    EXPECT_FALSE(
        TftpOptions::Negotiate(unterminated.constData(), unterminated.size(), 0, true).Any());
}

class TftpOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        server.SetTimeouts(30, 3); // 300 ms
        server.SetCallback(events.Callback());
        server.Start(dir.path(), 0, QHostAddress::LocalHost);
        port = server.Port();
        WriteFile(dir.filePath("f.bin"), content);
    }
    void TearDown() override { server.Stop(); }
    bool Drained()
    {
        return WaitUntil([&] { return server.SessionCount() == 0; }, 3000);
    }

    // Reads f.bin after the OACK with the agreed block and window sizes; checks that the
    // server sends exactly one window before each ACK.
    QByteArray FetchAfterOptionAck(TftpTestPeer& client, int blockSize, int window)
    {
        QByteArray got;
        client.Send(TftpTestPeer::Ack(0));
        for (int block = 1; block < 1000;) {
            int inWindow = 0;
            TftpTestPeer::Packet p;
            do {
                p = client.Receive();
                EXPECT_EQ(p.opcode(), 3);
                EXPECT_EQ(p.block(), block);
                if (p.opcode() != 3 || p.block() != block)
                    return QByteArray();
                got += p.payload();
                ++block;
                ++inWindow;
            } while (inWindow < window && p.payload().size() == blockSize);
            EXPECT_FALSE(client.socket.hasPendingDatagrams()); // nothing past the window
            client.Send(TftpTestPeer::Ack(p.block()));
            if (p.payload().size() < blockSize)
                break;
        }
        return got;
    }

    const QByteArray content = Pattern(9999, 7); // 20 blocks of 512 (19 full)
    QTemporaryDir dir;
    TftpEvents events;
    VxTFTPServer server;
    quint16 port = 0;
};

TEST_F(TftpOptionsTest, EachOptionAloneAndTogetherIsAgreedAndUsed)
{
    struct Case
    {
        Options asked;
        OptionMap agreed; // empty: no OACK, DATA 1 comes at once
        int blockSize;
        int window;
        int timeoutCs;
    };
    const std::vector<Case> cases = {
        {{}, {}, 512, 1, 30},
        {{{"foo", "1"}}, {}, 512, 1, 30},
        {{{"blksize", "1024"}}, {{"blksize", "1024"}}, 1024, 1, 30},
        {{{"tsize", "0"}}, {{"tsize", "9999"}}, 512, 1, 30},
        {{{"timeout", "2"}}, {{"timeout", "2"}}, 512, 1, 200},
        {{{"windowsize", "4"}}, {{"windowsize", "4"}}, 512, 4, 30},
        {{{"blksize", "1428"}, {"tsize", "0"}, {"timeout", "1"}, {"windowsize", "8"}, {"foo", "1"}},
         {{"blksize", "1428"}, {"tsize", "9999"}, {"timeout", "1"}, {"windowsize", "8"}},
         1428,
         8,
         100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked.empty() ? std::string("none") : c.asked.front().first.toStdString());
        events.msgs.clear();
        TftpTestPeer client;
        QByteArray got;
        if (c.agreed.empty()) {
            got = client.Fetch(port, "f.bin", c.asked); // DATA 1 answers the request
        } else {
            client.SendTo(port, TftpTestPeer::Request(1, "f.bin", "octet", c.asked));
            const auto oack = client.Receive();
            ASSERT_EQ(oack.opcode(), 6);
            EXPECT_EQ(TftpTestPeer::OptionAck(oack.data), c.agreed);
            got = FetchAfterOptionAck(client, c.blockSize, c.window);
        }
        EXPECT_EQ(got, content);
        ASSERT_TRUE(Drained());
        ASSERT_NE(events.Last(TFTP_SUCCESS), nullptr);
        EXPECT_EQ(events.Last(TFTP_SUCCESS)->agreedBlockSize, c.blockSize);
        EXPECT_EQ(events.Last(TFTP_SUCCESS)->windowSize, c.window);
        EXPECT_EQ(events.Last(TFTP_SUCCESS)->timeout, c.timeoutCs);
        EXPECT_EQ(events.Last(TFTP_SUCCESS)->bytes, content.size());
    }

    // A put with every option: OACK in the place of ACK 0, an ACK after each window.
    TftpTestPeer writer;
    writer.SendTo(
        port, TftpTestPeer::Request(2, "up.bin", "octet",
                                    {{"blksize", "1000"}, {"tsize", "9999"}, {"windowsize", "3"}}));
    const auto oack = writer.Receive();
    ASSERT_EQ(oack.opcode(), 6);
    EXPECT_EQ(TftpTestPeer::OptionAck(oack.data),
              (OptionMap{{"blksize", "1000"}, {"tsize", "9999"}, {"windowsize", "3"}}));
    std::vector<int> acks;
    for (int block = 1; block <= 10; ++block) {
        writer.Send(TftpTestPeer::Data(block, content.mid((block - 1) * 1000, 1000)));
        if (block % 3 == 0 || block == 10)
            acks.push_back(writer.Receive().block());
    }
    EXPECT_EQ(acks, (std::vector<int>{3, 6, 9, 10}));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(ReadFile(dir.filePath("up.bin")), content);
}

TEST_F(TftpOptionsTest, AWindowedReadRecoversFromALostBlockAndALostAck)
{
    TftpTestPeer client;
    client.SendTo(port, TftpTestPeer::Request(1, "f.bin", "octet", {{"windowsize", "4"}}));
    ASSERT_EQ(client.Receive().opcode(), 6);
    client.Send(TftpTestPeer::Ack(0));
    std::vector<int> received;
    QByteArray got;
    const auto window = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const auto p = client.Receive();
            received.push_back(p.block());
            if (p.opcode() == 3)
                got.replace(qsizetype(p.block() - 1) * 512, p.payload().size(), p.payload());
        }
        EXPECT_FALSE(client.Receive(100).valid());
    };
    got.resize(content.size());
    window(4); // 1-4
    client.Send(TftpTestPeer::Ack(4));
    window(4); // 5-8, and 6 is "lost": the client acknowledges 5 (RFC 7440)
    client.Send(TftpTestPeer::Ack(5));
    window(4); // 6-9 again from 6
    client.Send(TftpTestPeer::Ack(9));
    window(4); // 10-13; the ACK of 13 is "lost": after the time-out the window comes again
    window(4);
    client.Send(TftpTestPeer::Ack(13));
    window(4); // 14-17
    client.Send(TftpTestPeer::Ack(17));
    window(3); // 18-20, the last one short
    client.Send(TftpTestPeer::Ack(20));
    EXPECT_EQ(received, (std::vector<int>{1,  2,  3,  4,  5,  6,  7,  8,  6,  7,  8,  9,  10, 11,
                                          12, 13, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    EXPECT_EQ(got, content);
    ASSERT_TRUE(Drained());
    ASSERT_NE(events.Last(TFTP_SUCCESS), nullptr);
    EXPECT_EQ(events.Last(TFTP_SUCCESS)->blocksResent, 3 + 4);
}

TEST_F(TftpOptionsTest, AWindowedWriteRecoversFromALostBlockAndALostAck)
{
    TftpTestPeer writer;
    writer.SendTo(port, TftpTestPeer::Request(2, "w.bin", "octet", {{"windowsize", "4"}}));
    ASSERT_EQ(writer.Receive().opcode(), 6);
    std::vector<int> acks;
    const auto send = [&](std::initializer_list<int> blocks) {
        for (int block : blocks)
            writer.Send(TftpTestPeer::Data(block, content.mid((block - 1) * 512, 512)));
        for (auto p = writer.Receive(200); p.valid(); p = writer.Receive(200))
            acks.push_back(p.opcode() == 4 ? p.block() : -p.opcode());
    };
    send({1, 2, 3, 4});
    send({5, 7, 8});        // 6 lost: the server acknowledges 5, once
    send({6, 7, 8, 9});     // the window again from 6
    send({10, 11, 12, 13}); // its ACK "lost" by the writer
    send({10, 11, 12, 13}); // the window again: acknowledged again, once
    send({14, 15, 16, 17});
    send({18, 19, 20});
    EXPECT_EQ(acks, (std::vector<int>{4, 5, 9, 13, 13, 17, 20}));
    ASSERT_TRUE(Drained());
    EXPECT_EQ(ReadFile(dir.filePath("w.bin")), content);
    ASSERT_NE(events.Last(TFTP_SUCCESS), nullptr);
    EXPECT_EQ(events.Last(TFTP_SUCCESS)->bytes, content.size());
}

} // namespace
