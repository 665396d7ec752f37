// The fleet as a console sees it: raw NIMP datagrams in, replies checked byte by byte.

#include "SimFleetFixture.h"

#include "common/Md5.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

QByteArray GetRecord(uint8_t id)
{
    return QByteArray(1, char(id)) + Bytes("00 03");
}

} // namespace

class SimNimpTest : public SimFleetFixture
{
};

TEST_F(SimNimpTest, DiscoverIsAnsweredByEveryDeviceWithTheSixRecordsInOrder)
{
    StartFleet(LoopbackOptions(3));
    Send(Bytes("09 2B 13 38 01 07 00 24 00 00 10 00") + QByteArray(16, '\0') +
         Bytes("FF FF FF FF FF FF 01 00"));
    QList<QByteArray> replies;
    for (int i = 0; i < 3; ++i)
        replies << Receive();
    ASSERT_EQ(Receive(200), QByteArray()) << "one reply per device";
    std::sort(replies.begin(), replies.end(),
              [](const QByteArray& a, const QByteArray& b) { return a.mid(28, 6) < b.mid(28, 6); });

    // Device 0, all of it: header, then model, MAC, address, netmask, version, name.
    const QByteArray records = Bytes("01 00 0B 4B 54 52 2D 34 32 30 30"       // KTR-4200
                                     "02 00 09 00 11 22 33 44 F0"              // MAC
                                     "03 00 07 0A 01 00 0A"                    // 10.1.0.10
                                     "04 00 07 FF FF FF 00"                    // 255.255.255.0
                                     "0C 00 0B 31 2E 30 32 2E 30 37 75"        // 1.02.07u
                                     "FB 00 0C 41 50 2D 33 33 34 34 46 30");   // AP-3344F0
    const QByteArray& reply = replies[0];
    ASSERT_EQ(reply.size(), 36 + records.size());
    EXPECT_EQ(reply.left(12), Bytes("09 2B 13 38 01 07 00") + QByteArray(1, char(36 + records.size())) +
                                  Bytes("00 00 10 00"));
    EXPECT_EQ(reply.mid(28), Bytes("00 11 22 33 44 F0 01 00") + records);
    QByteArray zeroed = reply;
    zeroed.replace(12, 16, QByteArray(16, '\0'));
    EXPECT_EQ(reply.mid(12, 16), Md5(zeroed)) << "digest over the reply, empty password";

    EXPECT_EQ(replies[1].mid(28, 6), Mac(1));
    EXPECT_EQ(replies[2].mid(28, 6), Mac(2));
    EXPECT_EQ(replies[2].mid(36 + 11 + 9, 7), Bytes("03 00 07 0A 01 00 0C")) << "base address + 2";
}

TEST_F(SimNimpTest, GetChecksThePasswordAndAnswersKnownVariables)
{
    auto options = LoopbackOptions(2);
    options.passwordAt.insert(1, QStringLiteral("s3cret"));
    StartFleet(options);

    // The example of the wire format: Get of the version, request number 7.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 7, Mac(0), GetRecord(12))),
              ExpectedReply(NIMP_CMD_GET, 7, 0, Mac(0), Bytes("0C 00 0B") + "1.02.07u"));

    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 8, Mac(1), GetRecord(12), "s3cret")),
              ExpectedReply(NIMP_CMD_GET, 8, 0, Mac(1), Bytes("0C 00 0B") + "1.02.07u", "s3cret"));
    // Wrong password: status 1 and no records.
    const QByteArray denied = Exchange(Request(NIMP_CMD_GET, 9, Mac(1), GetRecord(12), "guess"));
    ASSERT_EQ(denied.size(), 36);
    EXPECT_EQ(uint8_t(denied[10]), 0x11);
    EXPECT_EQ(denied.mid(4, 2), Bytes("05 09"));

    // The discovery group in a Get gives the six records; several ids keep their order.
    const QByteArray group = Exchange(Request(NIMP_CMD_GET, 10, Mac(0), GetRecord(0)));
    EXPECT_EQ(group.mid(36, 11), Bytes("01 00 0B") + "KTR-4200");
    const QByteArray pair = Exchange(Request(NIMP_CMD_GET, 11, Mac(0), GetRecord(4) + GetRecord(2)));
    EXPECT_EQ(pair.mid(36), Bytes("04 00 07 FF FF FF 00 02 00 09 00 11 22 33 44 F0"));

    // A variable the device does not have fails the whole Get with "not done".
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 12, Mac(0), GetRecord(12) + GetRecord(77))),
              ExpectedReply(NIMP_CMD_GET, 12, 2, Mac(0)));
    // A command the device does not know.
    EXPECT_EQ(Exchange(Request(7, 13, Mac(0))), ExpectedReply(7, 13, 3, Mac(0)));
    EXPECT_EQ(fleet->Device(1).counters.wrongPassword, 1);
}

TEST_F(SimNimpTest, DatagramsThatAreNotForADeviceGetNoAnswer)
{
    StartFleet(LoopbackOptions(1));
    QByteArray badMagic = Request(NIMP_CMD_GET, 1, Mac(0), GetRecord(12));
    badMagic[3] = 0x39;
    QByteArray longer = Request(NIMP_CMD_GET, 2, Mac(0), GetRecord(12)) + '\0';
    const QByteArray otherMac = Request(NIMP_CMD_GET, 3, Bytes("00 11 22 33 44 55"), GetRecord(12));
    const QByteArray broadcastGet = Request(NIMP_CMD_GET, 4, NimpBroadcastMac, GetRecord(12));
    for (const auto& datagram : {badMagic, longer, otherMac, broadcastGet, Bytes("09 2B 13 38")})
        Send(datagram);
    EXPECT_EQ(Receive(300), QByteArray());
    EXPECT_EQ(fleet->DatagramsReceived(), 5);

    // A record that claims more bytes than the datagram holds: status 4, nothing read.
    QByteArray truncated = Request(NIMP_CMD_SET, 5, Mac(0), Bytes("03 00 09 0A 00 00 01"));
    EXPECT_EQ(Exchange(truncated), ExpectedReply(NIMP_CMD_SET, 5, 4, Mac(0)));
    EXPECT_EQ(fleet->Device(0).IpAddress(), QStringLiteral("10.1.0.10"));
}

TEST_F(SimNimpTest, SetIpAppliesAUsableAddressAndRefusesOthers)
{
    StartFleet(LoopbackOptions(2));
    const QByteArray set = Record(3, Bytes("C0 A8 05 14")) + Record(4, Bytes("FF FF 00 00"));
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 20, Mac(1), set)), ExpectedReply(NIMP_CMD_SET, 20, 0, Mac(1)));
    EXPECT_EQ(fleet->Device(1).IpAddress(), QStringLiteral("192.168.5.20"));
    EXPECT_EQ(fleet->Device(1).Netmask(), QStringLiteral("255.255.0.0"));
    EXPECT_EQ(fleet->Device(0).IpAddress(), QStringLiteral("10.1.0.10"));
    // The new address is what discovery and the configuration report.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 21, Mac(1), GetRecord(3))).mid(36), Bytes("03 00 07 C0 A8 05 14"));
    EXPECT_TRUE(fleet->Device(1).config.RenderLines().contains(QStringLiteral("ip =192.168.5.20")));

    // The console sends FF FF FF FF for an address text it cannot read; a gap in the
    // mask, a broadcast host part or an unknown variable are refused just as well, and
    // nothing changes.
    const QList<QByteArray> refused = {
        Record(3, Bytes("FF FF FF FF")) + Record(4, Bytes("FF FF FF 00")),
        Record(3, Bytes("C0 A8 05 15")) + Record(4, Bytes("FF 00 FF 00")),
        Record(3, Bytes("C0 A8 05 FF")) + Record(4, Bytes("FF FF FF 00")),
        Record(3, Bytes("C0 A8 05 15")) + Record(250, Bytes("01")),
        Record(3, Bytes("C0 A8 05")),
    };
    uint8_t number = 30;
    for (const auto& records : refused) {
        EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, number, Mac(1), records)),
                  ExpectedReply(NIMP_CMD_SET, number, 2, Mac(1)));
        ++number;
    }
    EXPECT_EQ(fleet->Device(1).IpAddress(), QStringLiteral("192.168.5.20"));
    EXPECT_EQ(fleet->Device(1).counters.setIp, 1);
}

TEST_F(SimNimpTest, AFleetPastTheEndOfItsNetStartsOnlyOnAddressesItWouldAccept)
{
    // 10.1.0.250 onwards: the sixth device would land on the broadcast address and the
    // seventh on the next net's own address. Each device must take its address back.
    Ktr4200FleetOptions o = LoopbackOptions(8);
    o.baseIp = QStringLiteral("10.1.0.250");
    StartFleet(o);
    const QStringList expected = {"10.1.0.250", "10.1.0.251", "10.1.0.252", "10.1.0.253",
                                  "10.1.0.254", "10.1.1.1",   "10.1.1.2",   "10.1.1.3"};
    uint8_t number = 40;
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fleet->Device(i).IpAddress(), expected.at(i));
        const quint32 value = QHostAddress(expected.at(i)).toIPv4Address();
        QByteArray ip(4, '\0');
        for (int b = 0; b < 4; ++b)
            ip[b] = char(value >> (24 - 8 * b));
        const QByteArray set = Record(3, ip) + Record(4, Bytes("FF FF FF 00"));
        EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, number, Mac(i), set)),
                  ExpectedReply(NIMP_CMD_SET, number, 0, Mac(i)));
        ++number;
    }
}

TEST_F(SimNimpTest, ResetAcknowledgesThenStaysSilentForTheRebootTime)
{
    auto options = LoopbackOptions(1);
    options.rebootMs = 400;
    StartFleet(options);
    const QByteArray reset = Request(NIMP_CMD_SET, 40, Mac(0), Record(5, Bytes("01")));
    EXPECT_EQ(Exchange(reset), ExpectedReply(NIMP_CMD_SET, 40, 0, Mac(0)));
    const int64_t resetAt = TickCount();
    // Asked again and again while it reboots: nothing, until it is back.
    QByteArray answer;
    for (int i = 0; i < 40 && answer.isEmpty(); ++i)
        answer = Exchange(Request(NIMP_CMD_GET, uint8_t(41 + i), Mac(0), GetRecord(12)), 50);
    ASSERT_FALSE(answer.isEmpty()) << "back after the reboot";
    EXPECT_GE(TickCount() - resetAt, 400);
    EXPECT_GT(fleet->Device(0).counters.ignoredBusy, 0);
    EXPECT_EQ(uint8_t(answer[10]) & 0x0F, 0);
}

TEST_F(SimNimpTest, FactoryResetRestoresAddressPasswordAndConfiguration)
{
    auto options = LoopbackOptions(1);
    options.password = QStringLiteral("pw");
    options.factoryResetMs = 100;
    StartFleet(options);
    SimDevice& device = fleet->Device(0);
    device.config.Apply("KTR-4200\r\ndevice_name =\"Lobby\"\r\n80211a_dtim =7\r\n");
    ASSERT_EQ(device.DeviceName(), QStringLiteral("Lobby"));

    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 50, Mac(0), Record(5, Bytes("02")), "pw")),
              ExpectedReply(NIMP_CMD_SET, 50, 0, Mac(0), {}, "pw"));
    EXPECT_EQ(device.IpAddress(), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(device.DeviceName(), QStringLiteral("AP-3344F0"));
    EXPECT_EQ(device.config.Value(QStringLiteral("80211a_dtim")), QStringLiteral("1"));
    // The factory password is empty: the old one is now refused.
    WaitMilliseconds(150);
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 51, Mac(0), GetRecord(12), "pw")).at(10), char(0x11));
    EXPECT_EQ(uint8_t(Exchange(Request(NIMP_CMD_GET, 52, Mac(0), GetRecord(12))).at(10)), 0x10);
}

TEST_F(SimNimpTest, FlashWithoutAFetchedFileAndUnknownActionsAreNotDone)
{
    StartFleet(LoopbackOptions(1));
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 60, Mac(0), Record(5, Bytes("04")))),
              ExpectedReply(NIMP_CMD_SET, 60, 2, Mac(0)));
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 61, Mac(0), Record(5, Bytes("07")))),
              ExpectedReply(NIMP_CMD_SET, 61, 2, Mac(0)));
    // A fetch without the server address or file name.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 62, Mac(0), Record(93, "a.WR") + Record(5, Bytes("0A")))),
              ExpectedReply(NIMP_CMD_SET, 62, 2, Mac(0)));
    // A file name that cannot be put into a TFTP request.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 63, Mac(0),
                               Record(92, Bytes("7F 00 00 01")) + Record(93, Bytes("61 00 62")) +
                                   Record(5, Bytes("0A")))),
              ExpectedReply(NIMP_CMD_SET, 63, 2, Mac(0)));
    EXPECT_TRUE(fleet->Device(0).transfer.isNull());
}

TEST_F(SimNimpTest, FaultOptionsSilentNotDoneAndBadPassword)
{
    auto options = LoopbackOptions(3);
    options.silent = {0};
    options.notDone = {1};
    options.badPassword = {2};
    StartFleet(options);

    // All three are found by a discovery.
    Send(Request(NIMP_CMD_DISCOVER, 70, NimpBroadcastMac));
    QSet<QByteArray> found;
    for (int i = 0; i < 3; ++i)
        found.insert(Receive().mid(28, 6));
    EXPECT_EQ(found.size(), 3);

    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 71, Mac(0), GetRecord(12)), 300), QByteArray());
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 72, Mac(1), GetRecord(12))),
              ExpectedReply(NIMP_CMD_GET, 72, 2, Mac(1)));
    EXPECT_EQ(Exchange(Request(NIMP_CMD_SET, 73, Mac(1), Record(5, Bytes("01")))),
              ExpectedReply(NIMP_CMD_SET, 73, 2, Mac(1)));
    EXPECT_EQ(Exchange(Request(NIMP_CMD_GET, 74, Mac(2), GetRecord(12))),
              ExpectedReply(NIMP_CMD_GET, 74, 1, Mac(2)));
    EXPECT_EQ(fleet->Device(1).counters.reset, 0) << "a not-done device carries out nothing";
}

TEST_F(SimNimpTest, SeededLossDropsRequestsAndRepliesReproducibly)
{
    const auto countAnswers = [this](double dropRequests, double dropReplies) {
        auto options = LoopbackOptions(100);
        options.dropRequests = dropRequests;
        options.dropReplies = dropReplies;
        options.seed = 42;
        fleet.reset();
        console.close();
        StartFleet(options);
        Send(Request(NIMP_CMD_DISCOVER, 80, NimpBroadcastMac));
        int answers = 0;
        while (!Receive(300).isEmpty() && answers < 200)
            ++answers;
        int droppedIn = 0;
        int droppedOut = 0;
        for (int i = 0; i < fleet->DeviceCount(); ++i) {
            droppedIn += fleet->Device(i).counters.droppedRequests;
            droppedOut += fleet->Device(i).counters.droppedReplies;
        }
        EXPECT_EQ(answers + droppedIn + droppedOut, 100);
        return std::tuple(answers, droppedIn, droppedOut);
    };
    EXPECT_EQ(countAnswers(1.0, 0.0), std::tuple(0, 100, 0));
    EXPECT_EQ(countAnswers(0.0, 1.0), std::tuple(0, 0, 100));
    const auto first = countAnswers(0.3, 0.3);
    EXPECT_GT(std::get<0>(first), 0);
    EXPECT_GT(std::get<1>(first), 0);
    EXPECT_GT(std::get<2>(first), 0);
    EXPECT_EQ(countAnswers(0.3, 0.3), first) << "same seed, same losses";
}

TEST_F(SimNimpTest, ADiscoverToTwoThousandDevicesIsAnsweredInFull)
{
    StartFleet(LoopbackOptions(2000));
    console.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);
    Send(Request(NIMP_CMD_DISCOVER, 90, NimpBroadcastMac));
    QSet<QByteArray> macs;
    const int64_t deadline = TickCount() + 10000;
    while (macs.size() < 2000 && TickCount() < deadline) {
        const QByteArray reply = Receive(500);
        if (reply.isEmpty())
            break;
        macs.insert(reply.mid(28, 6));
    }
    EXPECT_EQ(macs.size(), 2000);
}

TEST_F(SimNimpTest, DumpJsonHoldsIdentityCountersAndConfiguration)
{
    StartFleet(LoopbackOptions(2));
    Exchange(Request(NIMP_CMD_GET, 1, Mac(1), GetRecord(12)));
    const auto root = QJsonDocument::fromJson(fleet->DumpJson()).object();
    EXPECT_EQ(root[QStringLiteral("port")].toInt(), fleet->Port());
    const auto devices = root[QStringLiteral("devices")].toArray();
    ASSERT_EQ(devices.size(), 2);
    const auto d1 = devices[1].toObject();
    EXPECT_EQ(d1[QStringLiteral("mac")].toString(), QStringLiteral("0011223344F1"));
    EXPECT_EQ(d1[QStringLiteral("ip")].toString(), QStringLiteral("10.1.0.11"));
    EXPECT_EQ(d1[QStringLiteral("version")].toString(), QStringLiteral("1.02.07u"));
    EXPECT_EQ(d1[QStringLiteral("counters")].toObject()[QStringLiteral("get")].toInt(), 1);
    EXPECT_TRUE(d1[QStringLiteral("config")].toArray().contains(QStringLiteral("80211b_channel =6")));
}

TEST_F(SimNimpTest, DelayedRepliesStillComeWhenTheDeviceRebootsMeanwhile)
{
    auto options = LoopbackOptions(1);
    options.replyDelayMs = 200;
    options.rebootMs = 2000;
    StartFleet(options);
    Send(Request(NIMP_CMD_SET, 100, Mac(0), Record(5, Bytes("01"))));
    EXPECT_EQ(Receive(50), QByteArray()) << "not before the delay";
    EXPECT_EQ(Receive(), ExpectedReply(NIMP_CMD_SET, 100, 0, Mac(0)));
    // The reboot has begun: a discovery is not answered.
    EXPECT_EQ(Exchange(Request(NIMP_CMD_DISCOVER, 101, NimpBroadcastMac), 400), QByteArray());
}
