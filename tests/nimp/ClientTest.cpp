#include "TestHelpers.h"
#include "common/VxError.h"
#include "nimp/VxNIMPClient.h"

#include <QNetworkDatagram>
#include <QScopeGuard>
#include <QTimer>
#include <QUdpSocket>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A scripted device side on loopback: it receives the client's requests and answers
// them as the test says.
class Peer
{
public:
    Peer() { EXPECT_TRUE(m_socket.bind(QHostAddress::LocalHost, 0)); }

    quint16 Port() const { return m_socket.localPort(); }

    // Waits (event loop) for the next request; false after 5 s without one.
    bool NextRequest(QNetworkDatagram* out)
    {
        if (!WaitUntil([this] { return m_socket.hasPendingDatagrams(); }))
            return false;
        *out = m_socket.receiveDatagram();
        return true;
    }

    void Answer(const QNetworkDatagram& request, uint8_t status, const QByteArray& records,
                QByteArray mac = {})
    {
        NimpHeader h;
        ASSERT_TRUE(NimpParseHeader(request.data(), &h));
        if (mac.isEmpty())
            mac = h.mac;
        Send(request, NimpBuildDatagram(h.command, h.requestNumber, status, mac, records, {}));
    }

    void Send(const QNetworkDatagram& request, const QByteArray& datagram)
    {
        m_socket.writeDatagram(datagram, request.senderAddress(), request.senderPort());
    }

private:
    QUdpSocket m_socket;
};

struct Outcome
{
    VxNIMPError error;
    VxNIMPVarList vars;
    int outstandingDuringCallback = 0;
};

// The owner of the requests it records.
struct Recorder : QObject
{
    std::vector<Outcome> outcomes;
    VxNIMPClient* client = nullptr;

    VxNIMPCallback Record()
    {
        return [this](const VxNIMPError& error, const VxNIMPVarList& vars) {
            outcomes.push_back({error, vars, client ? client->OutstandingCount() : -1});
        };
    }
};

QByteArray VersionRecord(const QString& version)
{
    QByteArray records;
    NimpAppendRecord(records, 12, version.toLatin1());
    return records;
}

class NimpClientTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        client = std::make_unique<VxNIMPClient>();
        client->SetTarget(QHostAddress::LocalHost, peer.Port());
        recorder.client = client.get();
    }

    int Get(const QString& mac, int timeoutCs = 100)
    {
        return client->SendRequest(mac, "pw", VxNIMPVarList(NimpVersionTable), NIMP_CMD_GET, recorder.Record(),
                                   &recorder, timeoutCs);
    }

    size_t Count() const { return recorder.outcomes.size(); }

    Peer peer;
    Recorder recorder;
    std::unique_ptr<VxNIMPClient> client;
};

} // namespace

TEST_F(NimpClientTest, DiscoverCollectsEveryDeviceThenTimesOut)
{
    VxNIMPVarList list(NimpDiscoveryTable);
    const int number =
        client->SendRequest("FFFFFFFFFFFF", "", list, NIMP_CMD_DISCOVER, recorder.Record(), &recorder, 50);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    ASSERT_EQ(request.data().size(), 36);
    EXPECT_EQ(request.data().mid(28, 6), NimpBroadcastMac);

    const QStringList macs = {"000000000001", "000000000002", "000000000003"};
    for (const QString& mac : macs) {
        VxNIMPVarList device(NimpDiscoveryTable);
        VxNIMPResponseVarList& sub = *device.Item(0).sub;
        sub.Item(0).value = "KTR-4200AP";
        sub.Item(1).value = mac;
        sub.Item(2).value = "10.0.0." + mac.right(1);
        sub.Item(3).value = "255.0.0.0";
        sub.Item(4).value = "1.0";
        sub.Item(5).value = "ap" + mac.right(1);
        peer.Answer(request, 0, NimpReplyRecords(device), NimpMacFromText(mac));
    }
    ASSERT_TRUE(WaitUntil([&] { return Count() == 4; }));
    for (int i = 0; i < 3; ++i) {
        const Outcome& o = recorder.outcomes[i];
        EXPECT_EQ(o.error.code, 0);
        EXPECT_EQ(o.error.message, "(VxNIMP) Ok!");
        EXPECT_EQ(o.error.requestNumber, number);
        EXPECT_EQ(o.error.command, NIMP_CMD_DISCOVER);
        EXPECT_EQ(o.error.mac, "FFFFFFFFFFFF");
        // Each reply names the address it came from: a plain IPv4 address.
        EXPECT_EQ(o.error.source, QHostAddress(QHostAddress::LocalHost));
        EXPECT_EQ(o.error.source.protocol(), QAbstractSocket::IPv4Protocol);
        EXPECT_EQ(o.vars.Item(0).sub->Item(1).value, macs[i]);
        EXPECT_EQ(o.vars.Item(0).sub->Item(5).value, "ap" + macs[i].right(1));
        EXPECT_EQ(o.outstandingDuringCallback, 1);
    }
    EXPECT_EQ(recorder.outcomes[3].error.code, NIMP_ERR_TIMEOUT);
    EXPECT_EQ(recorder.outcomes[3].error.message, "(VxNIMP) Timeout!");
    EXPECT_TRUE(recorder.outcomes[3].error.source.isNull());
    // The time-out carries the last decoded reply's values.
    EXPECT_EQ(recorder.outcomes[3].vars.Item(0).sub->Item(1).value, macs[2]);
    EXPECT_EQ(client->OutstandingCount(), 0);
}

TEST_F(NimpClientTest, GetAnsweredOnceIgnoresTheSecondReply)
{
    const int number = Get("00 11 22 33 44 55", 30);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    EXPECT_TRUE(NimpDigestMatches(request.data(), "pw"));
    peer.Answer(request, 0, VersionRecord("2.1.7"));
    peer.Answer(request, 0, VersionRecord("second"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    // Past the deadline: no second callback, no time-out.
    WaitMilliseconds(500);
    ASSERT_EQ(Count(), 1u);
    const Outcome& o = recorder.outcomes[0];
    EXPECT_EQ(o.error.code, 0);
    EXPECT_EQ(o.error.requestNumber, number);
    EXPECT_EQ(o.error.command, NIMP_CMD_GET);
    EXPECT_EQ(o.error.mac, "001122334455");
    EXPECT_EQ(o.error.password, "pw");
    EXPECT_EQ(o.vars.Item(0).value, "2.1.7");
    EXPECT_EQ(o.outstandingDuringCallback, 0); // removed before its callback runs
}

TEST_F(NimpClientTest, UnansweredAndMisaddressedRepliesTimeOut)
{
    Get("001122334455", 10);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    // Another device's MAC, a reply from another port, a bad length field and a bad
    // magic: all dropped.
    peer.Answer(request, 0, VersionRecord("wrong"), Bytes("00 11 22 33 44 56"));
    QUdpSocket stranger;
    stranger.bind(QHostAddress::LocalHost, 0);
    QByteArray good = NimpBuildDatagram(NIMP_CMD_GET, uint8_t(request.data()[5]), 0,
                                        Bytes("00 11 22 33 44 55"), VersionRecord("x"), {});
    stranger.writeDatagram(good, request.senderAddress(), request.senderPort());
    peer.Send(request, good + '\0');
    QByteArray badMagic = good;
    badMagic[0] = 0;
    peer.Send(request, badMagic);

    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.code, NIMP_ERR_TIMEOUT);
    EXPECT_EQ(recorder.outcomes[0].vars.Item(0).value, "");
    EXPECT_EQ(client->OutstandingCount(), 0);
}

TEST_F(NimpClientTest, StatusCodesEndGetButNotDiscover)
{
    const struct
    {
        uint8_t status;
        int code;
        const char* message;
    } cases[] = {
        {1, NIMP_ERR_PASSWORD, "(VxNIMP) Password Error!"},
        {2, NIMP_ERR_NOT_DONE, "(VxNIMP) Not Done!"},
        {3, NIMP_ERR_BAD_COMMAND, "(VxNIMP) Bad command type!"},
        {9, NIMP_ERR_UNKNOWN, "(VxNIMP) Unknown error!"},
    };
    for (const auto& c : cases) {
        recorder.outcomes.clear();
        Get("001122334455", 1000);
        QNetworkDatagram request;
        ASSERT_TRUE(peer.NextRequest(&request));
        peer.Answer(request, c.status, {});
        ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
        EXPECT_EQ(recorder.outcomes[0].error.code, c.code);
        EXPECT_EQ(recorder.outcomes[0].error.message, c.message);
        EXPECT_EQ(client->OutstandingCount(), 0);
    }

    recorder.outcomes.clear();
    client->SendRequest("FFFFFFFFFFFF", "", VxNIMPVarList(NimpDiscoveryTable), NIMP_CMD_DISCOVER,
                        recorder.Record(), &recorder, 100);
    const auto endDiscover = qScopeGuard([&] {
        // Destruction would wait its full 6 s for an outstanding Discover.
        WaitUntil([&] { return client->OutstandingCount() == 0; }, 15000);
    });
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Answer(request, 1, {}, Bytes("00 00 00 00 00 09"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.code, NIMP_ERR_PASSWORD);
    EXPECT_EQ(client->OutstandingCount(), 1);
    // Still collecting: a good reply after the error is reported too.
    VxNIMPVarList device(NimpDiscoveryTable);
    device.Item(0).sub->Item(1).value = "000000000009";
    device.Item(0).sub->Item(2).value = "10.0.0.9";
    peer.Answer(request, 0, NimpReplyRecords(device), Bytes("00 00 00 00 00 09"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 2; }));
    EXPECT_EQ(recorder.outcomes[1].error.code, 0);
    EXPECT_EQ(recorder.outcomes[1].vars.Item(0).sub->Item(1).value, "000000000009");
}

TEST_F(NimpClientTest, DecodingErrorCompletesWithEarlierValues)
{
    client->SendRequest("001122334455", "", VxNIMPVarList(NimpIPTable), NIMP_CMD_GET, recorder.Record(),
                        &recorder, 1000);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    EXPECT_EQ(request.data().mid(36), Bytes("03 00 03 04 00 03"));
    peer.Answer(request, 0, Bytes("03 00 07 0A 00 00 01 04 00 09 FF"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.code, NIMP_ERR_BAD_PACKET);
    EXPECT_EQ(recorder.outcomes[0].vars.Item(0).value, "10.0.0.1");
    EXPECT_EQ(recorder.outcomes[0].vars.Item(1).value, "");
}

TEST_F(NimpClientTest, SetSendsWritableValuesAndReadsNothingBack)
{
    VxNIMPVarList list(NimpIPTable);
    list.Item(0).value = "192.168.0.50";
    list.Item(1).value = "255.255.255.0";
    client->SendRequest("001122AABBCC", "", list, NIMP_CMD_SET, recorder.Record(), &recorder, 1000);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    EXPECT_EQ(request.data().size(), 50);
    EXPECT_EQ(request.data().mid(36), Bytes("03 00 07 C0 A8 00 32 04 00 07 FF FF FF 00"));
    peer.Answer(request, 0, Bytes("03 00 07 01 02 03 04"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.code, 0);
    EXPECT_EQ(recorder.outcomes[0].vars.Item(0).value, "192.168.0.50");
}

TEST_F(NimpClientTest, RefusedRequestsLeaveNothingBehind)
{
    VxNIMPVarList action(NimpActionTable);
    action.Item(0).value = "ten";
    VxNIMPVarList big(NimpFileTransferTable);
    big.Item(0).value = "10.0.0.1";
    big.Item(1).value = QString(8192 - 36 - 9 - 4 - 3, 'f');
    big.Item(2).value = "10";

    EXPECT_EQ(ErrorCode([&] { Get("FFFFFFFFFF"); }), NIMP_ERR_BAD_MAC);
    EXPECT_EQ(ErrorCode([&] {
                  client->SendRequest("001122334455", "", action, 4, recorder.Record(), &recorder, 10);
              }),
              NIMP_ERR_BAD_COMMAND);
    EXPECT_EQ(ErrorCode([&] {
                  client->SendRequest("001122334455", "", action, NIMP_CMD_SET, recorder.Record(), &recorder,
                                      10);
              }),
              NIMP_ERR_BAD_VALUE_TEXT);
    EXPECT_EQ(ErrorCode([&] {
                  client->SendRequest("001122334455", "pwd", big, NIMP_CMD_SET, recorder.Record(), &recorder,
                                      10);
              }),
              NIMP_ERR_REQUEST_TOO_LARGE);
    EXPECT_EQ(client->OutstandingCount(), 0);
    // The largest request that fits still goes out, and the counter was not used up.
    EXPECT_EQ(client->SendRequest("001122334455", "pw", big, NIMP_CMD_SET, recorder.Record(), &recorder, 10),
              0);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    EXPECT_EQ(request.data().size(), 8192 - 2);
    EXPECT_TRUE(NimpDigestMatches(request.data(), "pw"));
    peer.Answer(request, 0, {});
    EXPECT_TRUE(WaitUntil([&] { return Count() == 1; }));
}

TEST_F(NimpClientTest, TwoDeadlinesInOneTickAreReportedInSuccessiveTicks)
{
    // Both deadlines have passed by the first tick.
    Get("000000000001", 0);
    Get("000000000002", 0);
    ASSERT_TRUE(WaitUntil([&] { return Count() == 2; }));
    EXPECT_EQ(recorder.outcomes[0].error.mac, "000000000001");
    EXPECT_EQ(recorder.outcomes[1].error.mac, "000000000002");
    // When the first was reported, the second was still waiting for its own tick.
    EXPECT_EQ(recorder.outcomes[0].outstandingDuringCallback, 1);
    EXPECT_EQ(recorder.outcomes[1].outstandingDuringCallback, 0);
}

TEST_F(NimpClientTest, ThreeHundredGetsEachMatchedToItsOwnDevice)
{
    constexpr int N = 300;
    auto macOf = [](int i) {
        return QStringLiteral("0000000A%1").arg(i, 4, 16, QLatin1Char('0')).toUpper();
    };
    std::vector<QNetworkDatagram> requests;
    for (int i = 0; i < N; ++i) {
        ASSERT_EQ(Get(macOf(i), 3000), i % 256); // 0 again after 255
        QNetworkDatagram d;
        ASSERT_TRUE(peer.NextRequest(&d)) << i;
        requests.push_back(d);
    }
    EXPECT_EQ(client->OutstandingCount(), N);
    // Answer newest first, so that the entries with a repeated number are answered by
    // the later device before the earlier one.
    for (int i = N - 1; i >= 0; --i) {
        NimpHeader h;
        ASSERT_TRUE(NimpParseHeader(requests[i].data(), &h));
        peer.Answer(requests[i], 0, VersionRecord("v-" + NimpMacToText(h.mac)));
        if (i % 50 == 0)
            WaitMilliseconds(5); // let the client drain between bursts
    }
    ASSERT_TRUE(WaitUntil([&] { return Count() == size_t(N); }));
    for (const Outcome& o : recorder.outcomes) {
        EXPECT_EQ(o.error.code, 0) << o.error.mac.toStdString();
        EXPECT_EQ(o.vars.Item(0).value, "v-" + o.error.mac);
    }
    EXPECT_EQ(client->OutstandingCount(), 0);
}

TEST_F(NimpClientTest, CallbackMaySendAgainAndRaise)
{
    bool resent = false;
    int failedCode = 0;
    QObject::connect(client.get(), &VxNIMPClient::CallbackFailed,
                     [&](int code, const QString&) { failedCode = code; });
    struct Ctx
    {
        NimpClientTest* test;
        bool* resent;
    } ctx{this, &resent};
    client->SendRequest(
        "001122334455", "", VxNIMPVarList(NimpVersionTable), NIMP_CMD_GET,
        [c = &ctx](const VxNIMPError&, const VxNIMPVarList&) {
            if (!*c->resent) {
                *c->resent = true;
                c->test->Get("001122334455", 0);
            }
            throw VxError(-1, "(VxCommon) Bad logic operand!");
        },
        nullptr, 0);
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_TRUE(resent);
    EXPECT_EQ(failedCode, -1);
    EXPECT_EQ(client->OutstandingCount(), 0);
}

TEST_F(NimpClientTest, DestructionDropsOutstandingRequestsWithoutRunningTheEventLoop)
{
    Get("001122334455", 1000);
    QNetworkDatagram request;
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Answer(request, 0, VersionRecord("late"));
    ASSERT_TRUE(WaitUntil([&] { return client->OutstandingCount() == 0; }));
    Get("001122334455", 1000);
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Answer(request, 0, VersionRecord("too late"));

    bool eventLoopRan = false;
    QTimer::singleShot(0, [&] { eventLoopRan = true; });
    client.reset();
    EXPECT_FALSE(eventLoopRan);
    WaitMilliseconds(50);
    ASSERT_EQ(Count(), 1u); // the first Get's answer only
    EXPECT_EQ(recorder.outcomes[0].vars.Item(0).value, "late");
}

TEST_F(NimpClientTest, CancelDropsOnlyTheRequestsOfItsArgument)
{
    Recorder other;
    client->SendRequest("FFFFFFFFFFFF", "", VxNIMPVarList(NimpDiscoveryTable), NIMP_CMD_DISCOVER,
                        other.Record(), &other, 100);
    Get("001122334455", 100);
    client->SendRequest("001122334466", "pw", VxNIMPVarList(NimpVersionTable), NIMP_CMD_GET, other.Record(),
                        &other, 100);
    QNetworkDatagram requests[3];
    for (auto& r : requests)
        ASSERT_TRUE(peer.NextRequest(&r));
    bool idle = false;
    QObject::connect(client.get(), &VxNIMPClient::idle, [&] { idle = true; });

    client->Cancel(&other);
    EXPECT_EQ(client->OutstandingCount(), 1);
    EXPECT_FALSE(idle);
    for (auto& r : requests)
        peer.Answer(r, 0, VersionRecord("1.0"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.mac, "001122334455");
    EXPECT_TRUE(idle);
    WaitMilliseconds(50);
    EXPECT_TRUE(other.outcomes.empty());
}

// A signed reply, as a device that knows the password sends it.
QByteArray SignedReply(const QNetworkDatagram& request, uint8_t command, uint8_t status,
                       const QByteArray& records, const QByteArray& password)
{
    NimpHeader h;
    NimpParseHeader(request.data(), &h);
    return NimpBuildDatagram(command, h.requestNumber, status, h.mac, records, password);
}

TEST_F(NimpClientTest, StrictRepliesNeedTheRequestsCommandAndPassword)
{
    client->SetStrictReplies(true);
    const QByteArray records = VersionRecord("2.0");
    QNetworkDatagram request;

    // Unsigned, signed with another password, and carrying another command: all dropped,
    // the Get then times out.
    Get("001122334455", 30);
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Send(request, SignedReply(request, NIMP_CMD_GET, 0, records, {}));
    peer.Send(request, SignedReply(request, NIMP_CMD_GET, 0, records, "px"));
    peer.Send(request, SignedReply(request, NIMP_CMD_SET, 0, records, "pw"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 1; }));
    EXPECT_EQ(recorder.outcomes[0].error.code, NIMP_ERR_TIMEOUT);

    // The device's own signed reply is taken, a status too.
    Get("001122334455", 100);
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Send(request, SignedReply(request, NIMP_CMD_GET, 0, records, "pw"));
    Get("001122334455", 100);
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Send(request, SignedReply(request, NIMP_CMD_GET, NIMP_STATUS_NOT_DONE, {}, "pw"));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 3; }));
    EXPECT_EQ(recorder.outcomes[1].error.code, 0);
    EXPECT_EQ(recorder.outcomes[1].vars.Item(0).value, "2.0");
    EXPECT_EQ(recorder.outcomes[2].error.code, NIMP_ERR_NOT_DONE);

    // Without strict replies the unsigned reply with another command is taken.
    client->SetStrictReplies(false);
    Get("001122334455", 100);
    ASSERT_TRUE(peer.NextRequest(&request));
    peer.Send(request, SignedReply(request, NIMP_CMD_SET, 0, records, {}));
    ASSERT_TRUE(WaitUntil([&] { return Count() == 4; }));
    EXPECT_EQ(recorder.outcomes[3].error.code, 0);
}

TEST(NimpClient, ReceiveBufferIsEnlarged)
{
    VxNIMPClient client;
    EXPECT_GT(client.LocalPort(), 0);
    // At least what the default sysctl grants a socket that asks for more.
    EXPECT_GE(client.ReceiveBufferBytes(), 200 * 1024);
    std::printf("receive buffer granted: %d bytes\n", client.ReceiveBufferBytes());
}

TEST(NimpClient, FailedSendIsRefused)
{
    VxNIMPClient client;
    // Port 0 is no destination: the send fails and nothing becomes outstanding.
    client.SetTarget(QHostAddress::LocalHost, 0);
    EXPECT_EQ(ErrorCode([&] {
                  client.SendRequest("001122334455", "", VxNIMPVarList(NimpVersionTable),
                                     NIMP_CMD_GET, VxNIMPCallback(), nullptr, 10);
              }),
              NIMP_ERR_SOCKET_IO);
    EXPECT_EQ(client.OutstandingCount(), 0);
}
