// Closing the main window while devices still answer: the engine's last waits run when the
// window closes, and nothing reaches the window or the engine once they are gone.
#include "WindowTestBed.h"
#include "app/CommandQueue.h"
#include "app/VxNIMPRequest2EditsRepeat.h"
#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPWire.h"

#include <QAction>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

TEST(MainWindowClose, ClosingLetsOutstandingRequestsEndAndDestructionOnlyCancels)
{
    Ktr4200FleetOptions options;
    options.deviceCount = 3;
    options.replyDelayMs = 300;
    WindowTestBed bed(options);
    ASSERT_TRUE(bed.started);
    TMainForm& w = *bed.window;
    w.show();
    w.Action("TB_Discover")->trigger();
    ASSERT_EQ(bed.devices().Count(), 3);

    // A Get answered 300 ms later, then a discovery run still collecting when the window goes.
    auto codes = std::make_shared<QList<int>>();
    bed.core().Queue().Client().SendRequest(
        bed.fleet->Device(0).MacText(), QString(), VxNIMPVarList(NimpVersionTable), NIMP_CMD_GET,
        [codes](const VxNIMPError& e, const VxNIMPVarList&) { codes->append(e.code); },
        nullptr, 500);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(*codes, QList<int>{NIMP_OK});
    EXPECT_FALSE(w.ToolBar()->isEnabled());

    bed.core().Discovery().Request().timeout = 100;
    bed.core().Discovery().Execute(NIMP_CMD_DISCOVER);
    bool eventLoopRan = false;
    QTimer::singleShot(0, [&] { eventLoopRan = true; });
    bed.window.reset();
    EXPECT_FALSE(eventLoopRan);
    ASSERT_TRUE(WaitUntil([&] { return bed.fleet->Device(2).counters.replies == 2; }));
    WaitMilliseconds(100);
}
