// The engine's parts that need no device: the device list, settings, log lines, the queue's
// own commands, and the choice of the TFTP server address.
#include "AppTestBed.h"
#include "app/AppErrors.h"
#include "app/AppSettings.h"
#include "app/DeviceListModel.h"
#include "app/NimpInterfaces.h"
#include "common/VxCipher.h"
#include "common/VxError.h"
#include "common/VxNetInterface.h"
#include "tftp/VxTFTPServer.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

DeviceRow* addDevice(DeviceListModel& list, const QString& mac)
{
    return list.AddRow(QStringLiteral("KTR-4200"),
                       {mac, QStringLiteral("10.0.0.1"), QStringLiteral("255.255.255.0"),
                        QStringLiteral("1.02.07u"), QStringLiteral("ap")});
}

} // namespace

TEST(DeviceListModel, OperationCellsComeIntoBeingTogether)
{
    DeviceListModel list;
    DeviceRow* row = addDevice(list, QStringLiteral("021A2B000001"));
    EXPECT_EQ(list.GetField(row, QStringLiteral("Status")), QLatin1String(UnknownFieldText));
    EXPECT_EQ(list.SetField(row, QStringLiteral("Retry"), QStringLiteral("3")), -1);
    EXPECT_EQ(list.GetField(row, QStringLiteral("F/W version")), QLatin1String(UnknownFieldText));
    EXPECT_EQ(list.SetField(row, QStringLiteral("Bogus"), QStringLiteral("x")), -1);

    list.SetStatus(row, QStringLiteral(".."));
    EXPECT_EQ(list.GetAction(row), QString());
    EXPECT_EQ(list.GetStatus(row), QStringLiteral(".."));
    EXPECT_EQ(list.GetField(row, QStringLiteral("Retry")), QStringLiteral("0"));

    DeviceRow* other = addDevice(list, QStringLiteral("021A2B000002"));
    list.SetAction(other, QStringLiteral("Set IP"));
    EXPECT_EQ(list.GetAction(other), QStringLiteral("Set IP"));
    EXPECT_EQ(list.GetStatus(other), QString());
    EXPECT_EQ(list.SetField(other, QStringLiteral("F/W Version"), QStringLiteral("Updated")), 0);
    EXPECT_EQ(list.data(list.index(1, DeviceListModel::ColFwVersion)).toString(),
              QStringLiteral("Updated"));
    EXPECT_EQ(list.headerData(8, Qt::Horizontal).toString(), QStringLiteral("Retry"));
}

TEST(DeviceListModel, SelectionIsWalkedInListOrderAndCanBeLocked)
{
    DeviceListModel list;
    DeviceRow* a = addDevice(list, QStringLiteral("021A2B000001"));
    DeviceRow* b = addDevice(list, QStringLiteral("021A2B000002"));
    DeviceRow* c = addDevice(list, QStringLiteral("021A2B000003"));
    list.SetSelected(c, true);
    list.SetSelected(a, true);
    EXPECT_EQ(list.SelectedRows(), (QList<DeviceRow*>{a, c}));
    EXPECT_EQ(list.FindSelectedItem(QStringLiteral("021A2B000003")), c);
    EXPECT_EQ(list.FindSelectedItem(QStringLiteral("021A2B000002")), nullptr); // not selected

    list.SetSelectionLocked(true);
    list.SetSelected(b, true);
    list.ClearSelection();
    EXPECT_EQ(list.SelectedCount(), 2);
    list.SetSelectionLocked(false);
    list.SelectAll();
    EXPECT_EQ(list.SelectedCount(), 3);
}

TEST(Settings, DefaultsUnitsAndIgnoredKeys)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("system.ini"));
    QStringList warnings;
    AppSettings s = LoadSettings(ini, &warnings); // no file at all
    EXPECT_EQ(warnings, QStringList{QStringLiteral("Settings file %1 does not exist: every "
                                                   "setting has its default.").arg(ini)});
    EXPECT_TRUE(s.sendBlocked.isEmpty());
    EXPECT_FALSE(s.developerMode);
    EXPECT_TRUE(s.filter && s.verify && s.applyReset);
    EXPECT_EQ(s.discoveryTimeout, 500);
    EXPECT_EQ(s.rebootTime, 2000);
    EXPECT_EQ(s.fwFlashUpdateTime, 6000);
    EXPECT_EQ(s.discoveryRetry, 1);
    EXPECT_EQ(s.module, QStringLiteral("KTR-4200"));
    EXPECT_EQ(s.accessPassword, QString());
    EXPECT_EQ(s.nimpAddress, QHostAddress(QStringLiteral("255.255.255.255")));
    EXPECT_EQ(s.nimpPort, 64512);
    EXPECT_EQ(s.tftpPort, 69);
    EXPECT_TRUE(s.tftpServerAddress.isEmpty());

    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        QByteArray(
            "[system]\r\nfleetmgr=Q-Fenn\r\nDiscoveryTimeout=2\r\nTimingTolerance=0\r\n"
            "RebootTime=ten\r\nFilter=0\r\nVerify=7\r\nNimpPort=70000\r\nNimpAddress=127.0.0.1\r\n"
            "TftpServerAddress=not-an-address\r\nModule=KTR-4200AP\r\nNimpWirelessAP=") +
        EncryptText(QStringLiteral("s3cret")).toLatin1() + "\r\n");
    f.close();
    warnings.clear();
    s = LoadSettings(ini, &warnings);
    EXPECT_TRUE(s.developerMode);
    EXPECT_EQ(s.discoveryTimeout, 200);
    EXPECT_EQ(s.timingTolerance, 0);
    EXPECT_EQ(s.rebootTime, 2000);
    EXPECT_FALSE(s.filter);
    EXPECT_TRUE(s.verify);
    EXPECT_EQ(s.nimpPort, 64512);
    EXPECT_EQ(s.nimpAddress, QHostAddress(QHostAddress::LocalHost));
    EXPECT_TRUE(s.tftpServerAddress.isEmpty());
    EXPECT_EQ(s.module, QStringLiteral("KTR-4200AP"));
    EXPECT_EQ(s.accessPassword, QStringLiteral("s3cret"));
    // A port that cannot be used is no default to send to: it stops every send.
    EXPECT_TRUE(s.sendBlocked.startsWith(QStringLiteral("NimpPort=\"70000\" is no port")));
    ASSERT_EQ(warnings.size(), 4) << warnings.join('\n').toStdString();
    EXPECT_EQ(warnings[0], QStringLiteral("Settings read from %1:").arg(ini));
    EXPECT_TRUE(warnings[1].contains(QStringLiteral("RebootTime")));
    EXPECT_EQ(warnings[2], s.sendBlocked);
    EXPECT_TRUE(warnings[3].contains(QStringLiteral("TftpServerAddress")));

    // Files that hold no settings: said once, naming the file; the defaults apply.
    const QList<QPair<QByteArray, QString>> odd = {
        {QByteArray("\x7F" "ELF\x02\x01\x01\x00\x00\x00junk", 14), QStringLiteral("is not a text file")},
        {QByteArray("\xFF\xFE[\0S\0y\0s\0t\0e\0m\0]\0", 18), QStringLiteral("is UTF-16 text")},
        {QByteArray("[Other]\nNimpAddress=127.0.0.1\n"), QStringLiteral("has no [System] section")}};
    for (const auto& [content, said] : odd) {
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        warnings.clear();
        s = LoadSettings(ini, &warnings);
        ASSERT_EQ(warnings.size(), 1) << said.toStdString();
        EXPECT_TRUE(warnings[0].startsWith(QStringLiteral("Settings file %1 %2").arg(ini, said)))
            << warnings[0].toStdString();
        EXPECT_EQ(s.nimpAddress, QHostAddress(QStringLiteral("255.255.255.255")));
    }
    QFile::remove(ini);
    ASSERT_TRUE(QDir().mkpath(ini));
    warnings.clear();
    LoadSettings(ini, &warnings);
    EXPECT_EQ(warnings, QStringList{QStringLiteral("Settings file %1 is a folder: every setting "
                                                   "has its default.").arg(ini)});
}

TEST(Settings, DataFolderPrecedenceAndCreation)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    qputenv("NODEWARDEN_HOME", dir.filePath(QStringLiteral("env")).toUtf8());
    EXPECT_EQ(ResolveDataFolder(home), home);
    EXPECT_EQ(ResolveDataFolder(QString()), dir.filePath(QStringLiteral("env")));
    qunsetenv("NODEWARDEN_HOME");

    PrepareDataFolder(home);
    EXPECT_TRUE(QDir(home).exists(QStringLiteral("Config/Temp")));
    EXPECT_TRUE(QDir(home).exists(QStringLiteral("firmware")));

    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(PrepareDataFolder(dir.filePath(QStringLiteral("file"))), VxError);
}

TEST(TftpServerAddress, ConfiguredThenDeviceSubnetThenFirstRealInterface)
{
    VxNetInterface ifs[3];
    ifs[0] = {
        QStringLiteral("127.0.0.1"), QStringLiteral("255.0.0.0"), true, false, true, false, false};
    ifs[1] = {QStringLiteral("192.168.7.2"),
              QStringLiteral("255.255.255.0"),
              true,
              true,
              false,
              false,
              true};
    ifs[2] = {
        QStringLiteral("10.1.2.3"), QStringLiteral("255.255.0.0"), true, true, false, false, true};
    EXPECT_EQ(
        ChooseTftpServerAddress(QStringLiteral("172.16.0.9"), QStringLiteral("10.1.9.9"), ifs, 3),
        QStringLiteral("172.16.0.9"));
    EXPECT_EQ(ChooseTftpServerAddress(QString(), QStringLiteral("10.1.9.9"), ifs, 3),
              QStringLiteral("10.1.2.3"));
    // Not on any local subnet, or no address known: never the loopback.
    EXPECT_EQ(ChooseTftpServerAddress(QString(), QStringLiteral("172.20.0.5"), ifs, 3),
              QStringLiteral("192.168.7.2"));
    EXPECT_EQ(ChooseTftpServerAddress(QString(), QString(), ifs, 3), QStringLiteral("192.168.7.2"));
    ifs[1].up = false;
    ifs[2].up = false;
    EXPECT_EQ(ChooseTftpServerAddress(QString(), QStringLiteral("172.20.0.5"), ifs, 3), QString());
    EXPECT_EQ(ChooseTftpServerAddress(QString(), QString(), ifs, 0), QString());
}

namespace {
VxLocalInterface fakeInterface(const char* name, int index, bool up, bool loopback,
                               const QStringList& addresses)
{
    VxLocalInterface l;
    l.name = QString::fromLatin1(name);
    l.index = index;
    l.up = up;
    l.loopback = loopback;
    for (const QString& a : addresses) {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(a.section(QLatin1Char('/'), 0, 0)));
        entry.setPrefixLength(a.section(QLatin1Char('/'), 1).toInt());
        l.ipv4.append(entry);
    }
    return l;
}

QStringList namesOf(const QList<VxLocalInterface>& list)
{
    QStringList names;
    for (const VxLocalInterface& l : list)
        names.append(l.name);
    return names;
}

} // namespace

TEST(NimpInterfaces, EveryUsableOneByDefaultElseExactlyTheNamedOnesOrANamedError)
{
    const QList<VxLocalInterface> local = {
        fakeInterface("lo", 1, true, true, {QStringLiteral("127.0.0.1/8")}),
        fakeInterface("eth0", 2, true, false, {QStringLiteral("192.168.7.2/24")}),
        fakeInterface("wlan0", 3, false, false, {QStringLiteral("10.1.2.3/16")}),
        fakeInterface("tun0", 4, true, false, {}),
        fakeInterface("eth1", 5, true, false,
                      {QStringLiteral("10.81.2.1/24"), QStringLiteral("172.16.0.1/16")}),
    };
    EXPECT_EQ(namesOf(ChooseNimpInterfaces({}, local)),
              QStringList({QStringLiteral("eth0"), QStringLiteral("eth1")}));

    // As written in system.ini: in the order named, each once; a loopback only when named.
    const QStringList named = ParseInterfaceNames(QStringLiteral(" eth1, ,lo,eth1 "));
    EXPECT_EQ(named, QStringList({QStringLiteral("eth1"), QStringLiteral("lo")}));
    EXPECT_EQ(namesOf(ChooseNimpInterfaces(named, local)), named);
    EXPECT_TRUE(ParseInterfaceNames(QStringLiteral(" , ")).isEmpty());

    QString message;
    EXPECT_EQ(ErrorCode(
                  [&] {
                      ChooseNimpInterfaces({QStringLiteral("eth0"), QStringLiteral("eth9")}, local);
                  },
                  &message),
              AppErrorUnknownInterface);
    EXPECT_EQ(message,
              QString::fromLatin1(NimpInterfaceText::Unknown)
                  .arg(QStringLiteral("eth9"), QStringLiteral("lo, eth0, wlan0, tun0, eth1")));
    EXPECT_EQ(ErrorCode([&] { ChooseNimpInterfaces({QStringLiteral("wlan0")}, local); }, &message),
              AppErrorUnknownInterface);
    EXPECT_EQ(message, QString::fromLatin1(NimpInterfaceText::NotUp).arg(QStringLiteral("wlan0")));
    EXPECT_EQ(ErrorCode([&] { ChooseNimpInterfaces({QStringLiteral("tun0")}, local); }, &message),
              AppErrorUnknownInterface);
    EXPECT_EQ(message,
              QString::fromLatin1(NimpInterfaceText::NoAddress).arg(QStringLiteral("tun0")));

    // The address a device is told: the interface's address on its subnet, else its first.
    EXPECT_EQ(InterfaceAddressFor(local[4], QStringLiteral("172.16.9.9")),
              QStringLiteral("172.16.0.1"));
    EXPECT_EQ(InterfaceAddressFor(local[4], QStringLiteral("192.168.1.1")),
              QStringLiteral("10.81.2.1"));
    EXPECT_EQ(InterfaceAddressFor(local[3], QStringLiteral("10.0.0.1")), QString());
}

class QueueTest : public ::testing::Test
{
protected:
    QueueTest() : bed(Ktr4200FleetOptions{}) {}

    DeviceRow* runningRow(const QString& mac)
    {
        DeviceRow* row = addDevice(bed.devices(), mac);
        bed.devices().SetSelected(row, true);
        bed.devices().SetStatus(row, QStringLiteral("....."));
        return row;
    }

    AppTestBed bed;
};

TEST_F(QueueTest, GateSkipsFinishedRowsAndAbortIfCountDropsTheRest)
{
    DeviceRow* a = runningRow(QStringLiteral("021A2B0000A1"));
    DeviceRow* b = runningRow(QStringLiteral("021A2B0000A2"));
    bed.devices().SetStatus(a, QStringLiteral("Unsuccess!"));
    bed.devices().SetStatus(b, QStringLiteral("-Time Out-"));
    bed.devices().SetField(a, QStringLiteral("Retry"), QStringLiteral("2"));
    CommandQueue& q = bed.queue();
    q.AddCommand(cmdResetCount, nullptr, 0);
    q.AddCommand(cmdSetRetry, a, 0, {QStringLiteral("5")});
    q.AddCommand(cmdSetRetry, b, 0, {QStringLiteral("5")});
    q.AddCommand(cmdAbortIfCount, nullptr, 0, {QStringLiteral("0")});
    q.AddCommand(cmdSetStatusIf, a, 0, {QStringLiteral("Unsuccess!"), QStringLiteral("OK")});
    q.Run();
    EXPECT_EQ(q.DeviceCount(), 0);
    EXPECT_EQ(bed.devices().GetStatus(a), QStringLiteral("Unsuccess!")); // dropped, never ran
    EXPECT_EQ(bed.devices().GetField(a, QStringLiteral("Retry")), QStringLiteral("0"));
    EXPECT_EQ(q.Count(), 0);
}

TEST_F(QueueTest, DeviceCountDoesNotWrapAt256)
{
    QList<DeviceRow*> rows;
    for (int i = 0; i < 256; ++i)
        rows.append(
            runningRow(QStringLiteral("021A2B%1").arg(i, 6, 16, QLatin1Char('0')).toUpper()));
    CommandQueue& q = bed.queue();
    q.AddCommand(cmdResetCount, nullptr, 0);
    for (DeviceRow* row : rows)
        q.AddCommand(cmdSetRetry, row, 0, {QStringLiteral("1")});
    q.AddCommand(cmdAbortIfCount, nullptr, 0, {QStringLiteral("0")});
    q.AddCommand(cmdSetStatusIf, rows.last(), 0, {QStringLiteral("....."), QStringLiteral("OK")});
    q.Run();
    EXPECT_EQ(q.DeviceCount(), 256);
    EXPECT_EQ(bed.devices().GetStatus(rows.last()), QStringLiteral("OK"));
}

TEST_F(QueueTest, AnErrorInsideExecuteEmptiesTheQueue)
{
    DeviceRow* a = runningRow(QStringLiteral("021A2B0000A1"));
    CommandQueue& q = bed.queue();
    q.AddCommand(99, a, 0);
    q.AddCommand(cmdSetStatusIf, a, 0, {QStringLiteral("....."), QStringLiteral("OK")});
    try {
        q.Run();
        FAIL() << "no error raised";
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Command Queue: Unknown command!"));
    }
    EXPECT_EQ(q.Count(), 0);
    EXPECT_EQ(q.DeviceCount(), 0);
    q.Run(); // the stale command does not run in the next operation
    EXPECT_EQ(bed.devices().GetStatus(a), QStringLiteral("....."));
}

TEST_F(QueueTest, WaitAllTimesOutOnlyRowsStillWaitingAndTimerMarksItsRow)
{
    DeviceRow* a = runningRow(QStringLiteral("021A2B0000A1"));
    DeviceRow* b = runningRow(QStringLiteral("021A2B0000A2"));
    DeviceRow* c = runningRow(QStringLiteral("021A2B0000A3"));
    bed.devices().SetStatus(a, QStringLiteral(".."));
    bed.devices().SetStatus(b, QStringLiteral(".."));
    CommandQueue& q = bed.queue();
    q.AddCommand(cmdWaitAll, nullptr, 50, {QStringLiteral("..")});
    q.Run();
    EXPECT_EQ(bed.devices().GetStatus(a), QStringLiteral("-Time Out-"));
    EXPECT_EQ(bed.devices().GetStatus(b), QStringLiteral("-Time Out-"));
    EXPECT_EQ(bed.devices().GetStatus(c), QStringLiteral("....."));

    q.StartTimer(c, 5);
    EXPECT_TRUE(WaitUntil([&] { return !q.Waiting(); }, 3000));
    EXPECT_EQ(bed.devices().GetStatus(c), QStringLiteral("-Time Out-"));
}

TEST(ActionLog, TimePrefixInBothModes)
{
    ActionLog log;
    log.LogAction(QStringLiteral("hello"));
    log.SetDeveloperMode(true);
    log.LogAction(QStringLiteral("dev"));
    log.AppendLine(QStringLiteral("3 device(s) discovered."));
    ASSERT_EQ(log.Lines().size(), 3);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d \\d\\d'\\d\\d hello$"))
                    .match(log.Lines()[0])
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d \\d\\d'\\d\\d\\d dev$"))
                    .match(log.Lines()[1])
                    .hasMatch());
    EXPECT_EQ(log.Lines()[2], QStringLiteral("3 device(s) discovered."));
}

TEST_F(QueueTest, TftpErrorsAreLoggedAndSessionEventsOnlyInDeveloperMode)
{
    VxTFTPMsg msg;
    msg.status = TFTP_CONNECTED;
    msg.peerAddress = QStringLiteral("10.0.0.7");
    bed.core->OnTftpEvent(msg, nullptr);
    EXPECT_TRUE(bed.core->Log().Lines().isEmpty());
    msg.status = TFTP_FILE_NOT_FOUND;
    msg.message = QStringLiteral("(VxTFTP) File not found!");
    msg.operation = TFTP_OP_READ;
    msg.localAddress = QStringLiteral("10.0.0.1");
    msg.fileName = QStringLiteral("a.cfg");
    bed.core->OnTftpEvent(msg, nullptr);
    ASSERT_EQ(bed.core->Log().Lines().size(), 1);
    EXPECT_TRUE(
        bed.core->Log().Lines()[0].endsWith(QStringLiteral("[Tftp] Error:(VxTFTP) File not found! "
                                                           "10.0.0.1/a.cfg Download to 10.0.0.7")));
}
