// The engine against the simulated fleet on 127.0.0.1, with short timings from system.ini.
#include "AppTestBed.h"
#include "app/DeviceListModel.h"
#include "common/VxError.h"
#include "common/Wait.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

Ktr4200FleetOptions fleetOf(int count)
{
    Ktr4200FleetOptions o;
    o.deviceCount = count;
    o.baseIp = QStringLiteral("10.0.0.20");
    return o;
}

void selectAll(AppTestBed& bed)
{
    bed.devices().SelectAll();
}

} // namespace

TEST(EngineDiscover, FilterKeepsTheManagedModelsAndListsEachDeviceOnce)
{
    Ktr4200FleetOptions o = fleetOf(4);
    o.modelAt[1] = QStringLiteral("KTR-4200AP");
    o.modelAt[2] = QStringLiteral("KTR-9000");
    AppTestBed bed(o, {{QStringLiteral("DiscoveryRetry"), QStringLiteral("2")}});
    ASSERT_TRUE(bed.started);
    bed.core->Log().LogAction(QStringLiteral("from before"));

    bed.core->Discover();
    EXPECT_EQ(bed.fleet->Device(0).counters.discover, 2); // both requests answered...
    EXPECT_EQ(bed.devices().Count(), 3);                  // ...but each device listed once
    EXPECT_NE(bed.rowOf(0), nullptr);
    EXPECT_NE(bed.rowOf(1), nullptr);
    EXPECT_EQ(bed.rowOf(2), nullptr);
    DeviceRow* row = bed.rowOf(3);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("IP Address")),
              QStringLiteral("10.0.0.23"));
    EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("F/W Version")),
              QStringLiteral("1.02.07u"));
    EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("Action")),
              QLatin1String(UnknownFieldText));
    ASSERT_EQ(bed.core->Log().Lines().size(), 2);
    EXPECT_EQ(bed.core->Log().Lines()[0], QStringLiteral("3 device(s) discovered."));
    EXPECT_EQ(bed.core->Log().Lines()[1],
              QStringLiteral("1 device of another model not listed: %1 %2; Filter=0 lists it")
                  .arg(bed.fleet->Device(2).model, bed.fleet->Device(2).MacText()));
    EXPECT_EQ(bed.ui.captions, QStringList{QStringLiteral("Discover the devices")});
    EXPECT_FALSE(bed.ui.showing);

    // Filter off lists every model, even after a filtered Discover in the same run.
    bed.WriteIni({{QStringLiteral("NimpAddress"), QStringLiteral("127.0.0.1")},
                  {QStringLiteral("NimpPort"), QString::number(bed.fleet->Port())},
                  {QStringLiteral("DiscoveryTimeout"), QStringLiteral("1")},
                  {QStringLiteral("Filter"), QStringLiteral("0")}});
    bed.core->LoadSettings();
    bed.core->Discover();
    EXPECT_EQ(bed.devices().Count(), 4);
}

TEST(EngineDiscover, NothingIsSentWithoutRetriesOrTime)
{
    AppTestBed bed(fleetOf(2), {{QStringLiteral("DiscoveryRetry"), QStringLiteral("0")}});
    ASSERT_TRUE(bed.started);
    const int64_t start = TickCount();
    bed.core->Discover();
    EXPECT_GE(TickCount() - start, 900); // still listens for the whole time
    EXPECT_EQ(bed.fleet->DatagramsReceived(), 0);
    EXPECT_EQ(bed.core->Log().Lines(), QStringList{QStringLiteral("0 device(s) discovered.")});

    bed.WriteIni({{QStringLiteral("NimpAddress"), QStringLiteral("127.0.0.1")},
                  {QStringLiteral("NimpPort"), QString::number(bed.fleet->Port())},
                  {QStringLiteral("DiscoveryTimeout"), QStringLiteral("0")}});
    bed.core->LoadSettings();
    bed.core->Discover();
    EXPECT_EQ(bed.fleet->DatagramsReceived(), 0);
    EXPECT_EQ(bed.core->Log().Lines(), QStringList{QStringLiteral("0 device(s) discovered.")});
}

TEST(EngineSetIP, FourDevicesFromPoint253WrapAfter254)
{
    AppTestBed bed(fleetOf(4));
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 4);
    selectAll(bed);
    bed.core->SetIP(QStringLiteral("10.9.0.253"), QStringLiteral("255.255.0.0"));

    const QStringList expected = {QStringLiteral("10.9.0.253"), QStringLiteral("10.9.0.254"),
                                  QStringLiteral("10.9.0.1"), QStringLiteral("10.9.0.2")};
    for (int i = 0; i < 4; ++i) {
        DeviceRow* row = bed.devices().Row(i);
        const int device =
            bed.fleet
                ->FindDevice(QByteArray::fromHex(
                    bed.devices().GetField(row, QStringLiteral("Mac Address")).toLatin1()))
                ->index;
        EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("OK"));
        EXPECT_EQ(bed.devices().GetAction(row), QStringLiteral("Set IP"));
        EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("IP Address")), expected[i]);
        EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("Netmask")),
                  QStringLiteral("255.255.0.0"));
        EXPECT_EQ(bed.fleet->Device(device).IpAddress(), expected[i]);
        EXPECT_TRUE(bed.logHas(bed.fleet->Device(device).MacText() +
                               QStringLiteral(" Nimp Ack: Set IP OK.")));
    }
    EXPECT_EQ(bed.ui.captions.last(), QStringLiteral("Set IP"));
    EXPECT_TRUE(bed.ui.lastAbortable);
    EXPECT_FALSE(bed.devices().SelectionLocked());
}

TEST(EngineSetIP, WrongPasswordAndSilentDeviceEndWithTheirOwnTexts)
{
    Ktr4200FleetOptions o = fleetOf(3);
    o.badPassword.insert(1);
    o.silent.insert(2);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    selectAll(bed);
    bed.core->SetIP(QStringLiteral("10.9.0.10"), QStringLiteral("255.255.255.0"));

    EXPECT_EQ(bed.status(0), QStringLiteral("OK"));
    EXPECT_EQ(bed.status(1), QStringLiteral("Password Error!"));
    EXPECT_EQ(bed.fleet->Device(1).counters.wrongPassword, 3); // the first try and two retries
    EXPECT_TRUE(bed.logHas(bed.fleet->Device(1).MacText() +
                           QStringLiteral(" Nimp Ack: Set IP Password Error!")));
    EXPECT_EQ(bed.status(2), QStringLiteral("-Time Out-"));
    EXPECT_EQ(bed.devices().GetField(bed.rowOf(2), QStringLiteral("IP Address")),
              QStringLiteral("10.0.0.22"));

    // The client's own time-out comes after NimpSetTimeout + 5 s: its retries are gated off
    // and its text does not replace the time-out.
    const QString timeoutLine = bed.fleet->Device(2).MacText() + QStringLiteral(" Nimp:Set IP ");
    EXPECT_TRUE(
        WaitUntil([&] { return bed.core->Queue().Client().OutstandingCount() == 0; }, 9000));
    WaitMilliseconds(200);
    EXPECT_EQ(bed.status(2), QStringLiteral("-Time Out-"));
    EXPECT_EQ(bed.core->Log().Lines().filter(timeoutLine).size(), 1);
}

TEST(EngineCommands, GetVersionTimerTimeOutIsNotOverwrittenByTheLateReply)
{
    Ktr4200FleetOptions o = fleetOf(2);
    o.silent.insert(0);
    o.notDone.insert(1);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    selectAll(bed);
    DeviceRow* silent = bed.rowOf(0);
    DeviceRow* notDone = bed.rowOf(1);
    CommandQueue& q = bed.queue();
    for (DeviceRow* row : {silent, notDone}) {
        bed.devices().SetStatus(row, QStringLiteral("....."));
        q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("0")});
        q.AddCommand(cmdGetVersion, row, 100, {QString()});
    }
    q.Run();
    SCOPED_TRACE(bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString());
    EXPECT_EQ(bed.devices().GetStatus(silent), QStringLiteral("-Time Out-"));
    // "Not done" proves the device is alive.
    EXPECT_EQ(bed.devices().GetStatus(notDone), QStringLiteral("....."));
    EXPECT_EQ(bed.devices().GetField(notDone, QStringLiteral("Retry")), QStringLiteral("0"));
    EXPECT_TRUE(bed.logHas(bed.fleet->Device(1).MacText() +
                           QStringLiteral(" Nimp Ack: Get Version not done, but alive.")));

    EXPECT_TRUE(WaitUntil([&] { return q.Client().OutstandingCount() == 0; }, 8000));
    EXPECT_EQ(bed.devices().GetStatus(silent), QStringLiteral("-Time Out-"));
}

TEST(EngineSetIP, RetriesSucceedAfterLostPackets)
{
    Ktr4200FleetOptions o = fleetOf(6);
    o.dropRequests = 0.35;
    o.seed = 7;
    // Retries follow the client's time-out (NimpSetTimeout + 5 s): give the wait room for two.
    AppTestBed bed(o, {{QStringLiteral("TimingTolerance"), QStringLiteral("13")},
                       {QStringLiteral("DiscoveryRetry"), QStringLiteral("4")}});
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 6);
    selectAll(bed);
    bed.core->SetIP(QStringLiteral("10.9.1.1"), QStringLiteral("255.255.255.0"));
    SCOPED_TRACE(bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString());

    int retried = 0;
    for (int i = 0; i < 6; ++i) {
        // Four discovery requests went to each device; whatever else it saw or lost was Set IP.
        const SimDeviceCounters& c = bed.fleet->Device(i).counters;
        retried += c.discover + c.set + c.droppedRequests - 4 > 1 ? 1 : 0;
        if (bed.status(i) == QLatin1String("OK")) {
            EXPECT_EQ(bed.fleet->Device(i).IpAddress(),
                      bed.devices().GetField(bed.rowOf(i), QStringLiteral("IP Address")));
        }
    }
    EXPECT_GT(retried, 0);
    int ok = 0;
    for (int i = 0; i < 6; ++i)
        ok += bed.status(i) == QLatin1String("OK") ? 1 : 0;
    EXPECT_EQ(ok, 6);
}

TEST(EngineAbort, NoKeepsTheOperationYesMarksEveryUnfinishedRow)
{
    Ktr4200FleetOptions o = fleetOf(3);
    o.silent.insert(1);
    o.silent.insert(2);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    selectAll(bed);
    CommandQueue& q = bed.queue();
    bed.devices().SetStatus(bed.rowOf(0), QStringLiteral("OK"));
    for (int i : {1, 2}) {
        bed.devices().SetStatus(bed.rowOf(i), QStringLiteral("....."));
        q.AddCommand(cmdSetRetry, bed.rowOf(i), 0, {QStringLiteral("2")});
        q.AddCommand(cmdSetIP, bed.rowOf(i), 0,
                     {QString(), QStringLiteral("10.9.2.1"), QStringLiteral("255.0.0.0")});
    }
    q.AddCommand(cmdWaitAll, nullptr, 3000, {QStringLiteral("..")});
    q.AddCommand(cmdSetStatusIf, bed.rowOf(1), 0,
                 {QStringLiteral("Aborted!"), QStringLiteral("ran after abort")});

    bool keptAfterNo = false;
    QTimer::singleShot(600, [&] {
        bed.ui.answer = false;
        EXPECT_FALSE(q.OnProgressClose());
        keptAfterNo = q.IsRunning() && bed.ui.showing;
        bed.ui.answer = true;
        EXPECT_TRUE(q.OnProgressClose());
    });
    const int64_t start = TickCount();
    bed.core->RunWithProgress(QStringLiteral("Set IP"), QStringLiteral("Setting IP..."));
    EXPECT_LT(TickCount() - start, 10000); // the 30 s wait ended with the abort
    EXPECT_TRUE(keptAfterNo);
    ASSERT_EQ(bed.ui.questions.size(), 2);
    EXPECT_EQ(bed.ui.questions[0],
              QStringLiteral("Warning: Are you sure to abort the operations?"));
    EXPECT_EQ(bed.status(0), QStringLiteral("OK"));
    EXPECT_EQ(bed.status(1), QStringLiteral("Aborted!"));
    EXPECT_EQ(bed.status(2), QStringLiteral("Aborted!"));
    EXPECT_EQ(bed.devices().GetField(bed.rowOf(1), QStringLiteral("Retry")), QStringLiteral("0"));
    EXPECT_FALSE(bed.ui.showing);
    EXPECT_EQ(q.Count(), 0);
}

TEST(EngineReadConfig, OneDeviceToTheReadBackFile)
{
    AppTestBed bed(fleetOf(2));
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    DeviceRow* row = bed.rowOf(1);
    ASSERT_NE(row, nullptr);
    bed.devices().SetSelected(row, true);
    const QString file = bed.core->ReadBackFile(row);
    QFile stale(file);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("stale\r\n");
    stale.close();

    bed.core->ReadConfiguration(row);
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("OK"));
    EXPECT_EQ(bed.devices().GetAction(row), QStringLiteral("Read Config"));
    const QString mac = bed.fleet->Device(1).MacText();
    EXPECT_TRUE(bed.logHas(mac + QStringLiteral(" Nimp:Put config")));
    EXPECT_TRUE(bed.logHas(mac + QStringLiteral(" Nimp Ack:Put config OK.")));
    QFile read(file);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    const QByteArray text = read.readAll();
    EXPECT_FALSE(text.startsWith("stale"));
    EXPECT_TRUE(text.contains("10.0.0.21"));
    EXPECT_EQ(bed.config.Value(QStringLiteral("ip")), QStringLiteral("10.0.0.21"));
}

TEST(EngineReadConfig, FailedTransferRetriesThenEndsWithTheDeviceText)
{
    Ktr4200FleetOptions o = fleetOf(1);
    o.tftpFail.insert(0);
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    DeviceRow* row = bed.rowOf(0);
    ASSERT_NE(row, nullptr);
    bed.devices().SetSelected(row, true);
    bed.devices().SetStatus(row, QStringLiteral("....."));
    bed.queue().AddCommand(cmdSetRetry, row, 0, {QStringLiteral("1")});
    bed.queue().AddCommand(cmdReadConfig, row, 600, {QString(), bed.core->ReadBackFile(row)});
    bed.core->RunWithProgress(QStringLiteral("Get config"), QStringLiteral("Get config..."));
    SCOPED_TRACE(bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString());
    SCOPED_TRACE(bed.fleet->DumpJson().toStdString());
    EXPECT_EQ(bed.fleet->Device(0).counters.put, 2);
    const QString status = bed.devices().GetStatus(row);
    EXPECT_NE(status, QStringLiteral("....."));
    EXPECT_NE(status, QStringLiteral("OK"));
    EXPECT_FALSE(status.startsWith(QStringLiteral("(VxNIMP) ")));
}

// A reset is not waited for: the list goes on after a fixed reboot wait, which may be over
// before the reset's reply, or before the time-out of a lost reset request. The list of
// both tests: reset (one retry), a short reboot wait, then a read-back (two retries).
namespace {

DeviceRow* queueResetThenRead(AppTestBed& bed, int rebootWaitCs)
{
    bed.core->Discover();
    DeviceRow* row = bed.rowOf(0);
    if (!row)
        return nullptr;
    bed.devices().SetSelected(row, true);
    bed.devices().SetStatus(row, QStringLiteral("....."));
    CommandQueue& q = bed.queue();
    q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("1")});
    q.AddCommand(cmdReset, row, 0, {QString()});
    q.AddCommand(cmdWait, nullptr, rebootWaitCs, {});
    q.AddCommand(cmdSetStatusIf, row, 0, {QStringLiteral(".."), QStringLiteral(".....")});
    q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("2")});
    q.AddCommand(cmdReadConfig, row, 600, {QString(), bed.core->ReadBackFile(row)});
    q.AddCommand(cmdSetStatusIf, row, 0, {QStringLiteral("....."), QStringLiteral("OK")});
    return row;
}

} // namespace

TEST(EngineCommands, ALateResetAcknowledgementLeavesTheNextStepItsRetries)
{
    Ktr4200FleetOptions o = fleetOf(1);
    o.replyDelayMs = 400; // the reset's "OK" arrives after the read below has gone out
    o.rebootMs = 500;     // and that read is lost: the device is rebooting
    AppTestBed bed(o, {{QStringLiteral("ConfigUploadTime"), QStringLiteral("2")}});
    ASSERT_TRUE(bed.started);
    DeviceRow* row = queueResetThenRead(bed, 20);
    ASSERT_NE(row, nullptr);
    bed.queue().Run();
    SCOPED_TRACE(bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString());
    EXPECT_TRUE(bed.logHas(bed.fleet->Device(0).MacText() + QStringLiteral(" Nimp Ack:Reset OK.")));
    // The read was repeated once the device was back, as its own retry count allows.
    EXPECT_EQ(bed.fleet->Device(0).counters.put, 1);
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("OK"));
    EXPECT_TRUE(QFile::exists(bed.core->ReadBackFile(row)));
}

TEST(EngineCommands, ALostResetTimingOutDuringTheNextStepIsNotRetriedIntoIt)
{
    AppTestBed bed(fleetOf(1), {{QStringLiteral("ConfigUploadTime"), QStringLiteral("2")}});
    ASSERT_TRUE(bed.started);
    DeviceRow* row = queueResetThenRead(bed, 30);
    ASSERT_NE(row, nullptr);
    // The reset and the first read are lost; the reset's time-out (1 s) comes while the
    // read waits for its own (2 s), and the device answers again before the read's retry.
    bed.fleet->Device(0).silent = true;
    QTimer::singleShot(1500, [&] { bed.fleet->Device(0).silent = false; });
    bed.queue().Run();
    SCOPED_TRACE(bed.core->Log().Lines().join(QLatin1Char('\n')).toStdString());
    // No reset pushed into the middle of the read: the read is retried and completes.
    EXPECT_EQ(bed.fleet->Device(0).counters.reset, 0);
    EXPECT_EQ(bed.core->Log().Lines().filter(QStringLiteral("Nimp:Reset")).size(), 1);
    EXPECT_EQ(bed.fleet->Device(0).counters.put, 1);
    EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral("OK"));
}

TEST(EngineCommands, ReplyForARowNoLongerSelectedIsReportedOnlyInDeveloperMode)
{
    for (const bool developer : {false, true}) {
        AppTestBed bed(fleetOf(1), {{QStringLiteral("fleetmgr"),
                                     developer ? QStringLiteral("Q-Fenn") : QStringLiteral("0")}});
        ASSERT_TRUE(bed.started);
        bed.core->Discover();
        DeviceRow* row = bed.rowOf(0);
        ASSERT_NE(row, nullptr);
        bed.devices().SetSelected(row, true);
        bed.devices().SetStatus(row, QStringLiteral("....."));
        bed.queue().AddCommand(
            cmdSetIP, row, 0, {QString(), QStringLiteral("10.3.0.1"), QStringLiteral("255.0.0.0")});
        QStringList reported;
        QObject::connect(bed.core.get(), &AppCore::errorReported,
                         [&](int, const QString& message) { reported.append(message); });
        bed.queue().Run(); // Set IP does not wait for its reply
        bed.devices().SetSelected(row, false);
        EXPECT_TRUE(WaitUntil([&] { return bed.queue().Client().OutstandingCount() == 0; }, 3000));
        EXPECT_EQ(bed.devices().GetStatus(row), QStringLiteral(".."));
        EXPECT_EQ(bed.devices().GetField(row, QStringLiteral("IP Address")),
                  QStringLiteral("10.0.0.20"));
        if (developer)
            EXPECT_EQ(reported, QStringList{QStringLiteral("Error: Unknown device: 021A2B000001")});
        else
            EXPECT_TRUE(reported.isEmpty());
    }
}
