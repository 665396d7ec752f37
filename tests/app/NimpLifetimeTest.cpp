// The engine's NIMP side at its edges: objects destroyed while requests are outstanding,
// the program's end, and replies that did not come from the device asked.
#include "AppTestBed.h"
#include "app/DeviceListModel.h"
#include "app/VxNIMPRequest2EditsRepeat.h"
#include "common/Wait.h"
#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPWire.h"

#include <QTimer>
#include <gtest/gtest.h>

namespace {

Ktr4200FleetOptions delayedFleet(int count, int replyDelayMs)
{
    Ktr4200FleetOptions o;
    o.deviceCount = count;
    o.baseIp = QStringLiteral("10.0.0.20");
    o.replyDelayMs = replyDelayMs;
    return o;
}

// Set by a zero-time timer: true once the event loop has run since Arm().
struct EventLoopProbe
{
    void Arm()
    {
        ran = std::make_shared<bool>(false);
        QTimer::singleShot(0, [flag = ran] { *flag = true; });
    }
    bool Ran() const { return ran && *ran; }
    std::shared_ptr<bool> ran;
};

} // namespace

TEST(NimpLifetime, DiscoveryObjectDestroyedWhileRepliesStreamInIsNeverCalledBack)
{
    LoopbackFleet loopback(delayedFleet(40, 200));
    ASSERT_TRUE(loopback.started);
    VxNIMPClient client;
    client.SetTarget(QHostAddress::LocalHost, loopback.nimpPort);
    DeviceListModel list;
    auto discovery = std::make_unique<VxNIMPRequest2EditsRepeat>(
        client, VxNIMPDevice{QStringLiteral("FFFFFFFFFFFF"), QString()});
    discovery->Request().variables = VxNIMPVarList(NimpDiscoveryTable);
    discovery->Request().timeout = 100;
    discovery->Bind(&list);
    discovery->Execute(NIMP_CMD_DISCOVER);

    EventLoopProbe probe;
    probe.Arm();
    discovery.reset();
    EXPECT_FALSE(probe.Ran());
    EXPECT_EQ(client.OutstandingCount(), 0);

    // The forty replies still arrive; none of them reaches the list.
    ASSERT_TRUE(WaitUntil([&] { return loopback.fleet->Device(39).counters.replies == 1; }));
    WaitMilliseconds(100);
    EXPECT_EQ(list.Count(), 0);
}

TEST(NimpLifetime, EngineDestroyedWithRequestsOutstandingOnlyCancels)
{
    AppTestBed bed(delayedFleet(20, 300));
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 20);

    // A last discovery run and a Get, both to be answered after the engine is gone.
    bed.core->Discovery().Request().timeout = 100;
    bed.core->Discovery().Execute(NIMP_CMD_DISCOVER);
    auto called = std::make_shared<int>(0);
    bed.core->Queue().Client().SendRequest(
        bed.fleet->Device(0).MacText(), QString(), VxNIMPVarList(NimpVersionTable), NIMP_CMD_GET,
        [called](const VxNIMPError&, const VxNIMPVarList&) { ++*called; }, nullptr, 500);

    EventLoopProbe probe;
    probe.Arm();
    bed.core.reset();
    EXPECT_FALSE(probe.Ran());
    ASSERT_TRUE(WaitUntil([&] { return bed.fleet->Device(0).counters.replies == 3; }));
    WaitMilliseconds(100);
    EXPECT_EQ(*called, 0);
}

TEST(NimpLifetime, ShutdownLetsOutstandingRequestsEndThenDropsTheRest)
{
    Ktr4200FleetOptions o = delayedFleet(2, 300);
    o.silent.insert(1);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 2);

    // A Get answered 300 ms later, a discovery run that ends by its time-out, and a Get to a
    // device that never answers one (its own time-out lies far beyond the 6 s).
    auto codes = std::make_shared<QList<int>>();
    const auto record = [codes](const VxNIMPError& e, const VxNIMPVarList&) {
        codes->append(e.code);
    };
    VxNIMPClient& client = bed.core->Queue().Client();
    client.SendRequest(bed.fleet->Device(0).MacText(), QString(), VxNIMPVarList(NimpVersionTable),
                       NIMP_CMD_GET, record, nullptr, 500);
    bed.core->Discovery().Request().timeout = 50;
    bed.core->Discovery().Execute(NIMP_CMD_DISCOVER);
    client.SendRequest(bed.fleet->Device(1).MacText(), QString(), VxNIMPVarList(NimpVersionTable),
                       NIMP_CMD_GET, record, nullptr, 3000);

    bed.core->Shutdown();
    EXPECT_EQ(*codes, QList<int>{NIMP_OK});
    EXPECT_EQ(bed.core->Discovery().Outstanding(), 0);
    EXPECT_EQ(client.OutstandingCount(), 0);
    WaitMilliseconds(100);
    EXPECT_EQ(*codes, QList<int>{NIMP_OK});
}
