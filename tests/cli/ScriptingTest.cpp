// The command line as an administrator scripts it: backups of a whole fleet, the difference
// between two configurations, the lasting log of a run, and the device list as CSV.
#include "LoopbackFleet.h"
#include "ProgramRun.h"
#include "TestHelpers.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef NODEWARDEN_BIN

namespace {

ProgramRun nodewarden(const QString& home, const QStringList& args)
{
    return RunNodewarden(QStringList{QStringLiteral("--home"), home} + args);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file whole, replacing it; the path back.
QString writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(data);
    return path;
}

struct CliBed
{
    explicit CliBed(int devices) : CliBed(QuickFleetOptions(devices)) {}
    explicit CliBed(const Ktr4200FleetOptions& options) : loopback(options)
    {
        LoopbackFleet::WriteSystemIni(
            home.path(),
            loopback.SystemKeys({{QStringLiteral("ConfigUploadTime"), QStringLiteral("3")},
                                 {QStringLiteral("RebootTime"), QStringLiteral("1")}},
                                {}));
    }
    ~CliBed() { loopback.fleet->Stop(); }
    SimDevice& device(int i) { return loopback.fleet->Device(i); }
    // The simulated devices in the order of the console's device list (Discover's).
    QList<SimDevice*> inListOrder(const QString& homePath)
    {
        const ProgramRun listed =
            RunNodewarden({QStringLiteral("--home"), homePath, QStringLiteral("discover"),
                           QStringLiteral("--json")});
        QList<SimDevice*> order;
        for (const QJsonValue& v : QJsonDocument::fromJson(listed.out.toUtf8()).array())
            for (int i = 0; i < loopback.fleet->DeviceCount(); ++i)
                if (device(i).MacText() == v.toObject().value(QStringLiteral("Mac Address")).toString())
                    order.append(&device(i));
        return order;
    }

    QTemporaryDir home;
    LoopbackFleet loopback;
};

} // namespace

TEST(CommandLineScripts, BackupOfTheWholeFleetThenDiffAndTheRunsLogFile)
{
    constexpr int kDevices = 20;
    CliBed bed(kDevices);
    ASSERT_TRUE(bed.loopback.started);
    for (int i = 0; i < kDevices; ++i)
        bed.device(i).config.SetValue(QStringLiteral("device_name"),
                                      QStringLiteral("Room %1").arg(i));
    bed.device(0).config.Apply("80211b_acl_clr =\r\n80211b_acl_mac_add =02:1A:2B:12:34:56\r\n"
                               "80211b_acl_mac_add =02:1A:2B:12:34:57\r\n");
    ASSERT_EQ(bed.device(0).config.AclEntries(1).size(), 2);

    const QString out = QDir(bed.home.path()).filePath(QStringLiteral("saved"));
    const ProgramRun backup = nodewarden(bed.home.path(), {"backup", "--all", "--output", out});
    ASSERT_EQ(backup.exitCode, 0) << backup.err.toStdString();

    // Each file is what its device reports; the index lists every device with its file's digest.
    const QJsonObject index =
        QJsonDocument::fromJson(readAll(QDir(out).filePath("index.json"))).object();
    const QJsonArray entries = index.value(QStringLiteral("devices")).toArray();
    ASSERT_EQ(entries.size(), kDevices);
    QSet<QString> seen;
    for (const QJsonValue& v : entries) {
        const QJsonObject e = v.toObject();
        const QString mac = e.value(QStringLiteral("mac")).toString();
        int i = 0;
        while (i < kDevices && bed.device(i).MacText() != mac)
            ++i;
        ASSERT_LT(i, kDevices) << mac.toStdString();
        seen.insert(mac);
        const QByteArray file = readAll(QDir(out).filePath(mac + ".cfg"));
        EXPECT_EQ(file, bed.device(i).config.Render(bed.device(i).model)) << i;
        EXPECT_EQ(e.value(QStringLiteral("status")).toString(), QStringLiteral("OK"));
        EXPECT_EQ(e.value(QStringLiteral("sha256")).toString(),
                  QString::fromLatin1(
                      QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex()));
        EXPECT_EQ(e.value(QStringLiteral("name")).toString(), QStringLiteral("Room %1").arg(i));
        EXPECT_EQ(e.value(QStringLiteral("ip")).toString(), bed.device(i).IpAddress());
        EXPECT_EQ(e.value(QStringLiteral("firmware")).toString(), bed.device(i).version);
        EXPECT_EQ(e.value(QStringLiteral("model")).toString(), bed.device(i).model);
        EXPECT_FALSE(e.value(QStringLiteral("time")).toString().isEmpty());
    }
    EXPECT_EQ(seen.size(), kDevices);
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), kDevices + 1);

    // One setting and one access-list entry changed in a copy: diff names exactly those.
    const QString a = QDir(out).filePath(bed.device(0).MacText() + ".cfg");
    const QString b = QDir(bed.home.path()).filePath(QStringLiteral("edited.cfg"));
    QByteArray edited = readAll(a);
    ASSERT_TRUE(edited.contains("\"Room 0\"") && edited.contains("02:1A:2B:12:34:57"));
    edited.replace("\"Room 0\"", "\"Room X\"").replace("02:1A:2B:12:34:57", "02:1A:2B:12:34:58");
    QFile copy(b);
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(edited);
    copy.close();
    const ProgramRun diff = nodewarden(bed.home.path(), {"diff", a, b});
    EXPECT_EQ(diff.exitCode, 1);
    EXPECT_EQ(diff.out, QStringLiteral("device_name: \"Room 0\" -> \"Room X\"\n"
                                       "80211b_acl_mac_add: removed 02:1A:2B:12:34:57\n"
                                       "80211b_acl_mac_add: added 02:1A:2B:12:34:58\n"));
    const ProgramRun diffJson = nodewarden(bed.home.path(), {"diff", "--json", a, b});
    EXPECT_EQ(diffJson.exitCode, 1);
    EXPECT_EQ(QJsonDocument::fromJson(diffJson.out.toUtf8()).array(), QJsonDocument::fromJson(R"([
                  {"name": "device_name", "a": "\"Room 0\"", "b": "\"Room X\""},
                  {"name": "80211b_acl_mac_add", "a": "02:1A:2B:12:34:57", "b": null},
                  {"name": "80211b_acl_mac_add", "a": null, "b": "02:1A:2B:12:34:58"}])")
                                                                          .array())
        << diffJson.out.toStdString();
    EXPECT_EQ(nodewarden(bed.home.path(), {"diff", a, a}).exitCode, 0);
    EXPECT_EQ(nodewarden(bed.home.path(), {"diff", a, b + ".missing"}).exitCode, 2);
    // Neither a binary nor a file larger than write-config takes is compared: exit 2 and why.
    QByteArray binary(5000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919 + 13) % 256);
    QByteArray large = edited;
    while (large.size() <= 1024 * 1024)
        large += "80211b_dtim =3\r\n";
    for (const QByteArray& content : {binary, large}) {
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly | QIODevice::Truncate));
        copy.write(content);
        copy.close();
        const ProgramRun odd = nodewarden(bed.home.path(), {"diff", a, b});
        EXPECT_EQ(odd.exitCode, 2) << odd.out.toStdString();
        EXPECT_TRUE(odd.err.contains(QStringLiteral("not a configuration file"))) << odd.err.toStdString();
    }

    // The run's log lines are in the day file, each after its full date and time.
    QStringList fileLines;
    const QDir logs(QDir(bed.home.path()).filePath(QStringLiteral("Logs")));
    for (const QString& name : logs.entryList({QStringLiteral("*.log")}, QDir::Files))
        fileLines +=
            QString::fromUtf8(readAll(logs.filePath(name))).split('\n', Qt::SkipEmptyParts);
    const QRegularExpression dated(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (.*)$)"));
    QStringList undated;
    for (const QString& line : fileLines) {
        const QRegularExpressionMatch m = dated.match(line);
        ASSERT_TRUE(m.hasMatch()) << line.toStdString();
        undated.append(m.captured(1));
    }
    const QStringList logged = backup.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(logged.isEmpty());
    for (const QString& line : logged)
        EXPECT_TRUE(undated.contains(line)) << line.toStdString();
    EXPECT_TRUE(
        logged.last().contains(QStringLiteral("Back Up Configurations: 20 OK, 0 failed in ")))
        << logged.last().toStdString();

    // A disk with room for each device's file but not for the index, then one with no room at
    // all: never an "OK" run, never an empty or partial file left behind.
    qint64 largestFile = 0;
    for (const QFileInfo& f : QDir(out).entryInfoList({"*.cfg"}, QDir::Files))
        largestFile = std::max(largestFile, f.size());
    ASSERT_GT(QFileInfo(QDir(out).filePath("index.json")).size(), largestFile + 512);
    for (const rlim_t room : {rlim_t(largestFile + 256), rlim_t(100)}) {
        const QString full = QDir(bed.home.path()).filePath(QStringLiteral("full-%1").arg(room));
        QTemporaryDir home;
        LoopbackFleet::WriteSystemIni(home.path(), bed.loopback.SystemKeys({}, {}));
        const ProgramRun run = RunNodewardenOnAFullDisk(
            {"--home", home.path(), "backup", "--all", "--output", full}, room);
        EXPECT_EQ(run.exitCode, 1) << room << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(QDir(full).filePath("index.json"))) << room;
        EXPECT_TRUE(run.err.contains(QStringLiteral("Cannot write the backup index ")
                                     + QDir(full).filePath("index.json") + QStringLiteral(": ")))
            << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("Configurations saved in"))) << room;
        for (const QFileInfo& f : QDir(full).entryInfoList(QDir::Files))
            EXPECT_GT(f.size(), 0) << f.filePath().toStdString();
        EXPECT_EQ(QDir(full).entryList(QDir::Files).size(), room > 100 ? kDevices : 0) << room;
    }
}

TEST(CommandLineScripts, DiscoverCsvIsReadByACsvReaderAndNoAnswerIsExitStatusOne)
{
    CliBed bed(3);
    ASSERT_TRUE(bed.loopback.started);
    const QStringList names = {QStringLiteral("@Ops"), QStringLiteral("Lobby \"East\", 2nd"),
                               QStringLiteral("=1+2")};
    for (int i = 0; i < names.size(); ++i)
        bed.device(i).config.SetValue(QStringLiteral("device_name"), names[i]);

    const ProgramRun discover = nodewarden(bed.home.path(), {"discover", "--csv"});
    ASSERT_EQ(discover.exitCode, 0) << discover.err.toStdString();

    QProcess reader;
    reader.start(
        QStringLiteral("python3"),
        {"-c", "import csv, json, sys; json.dump(list(csv.reader(sys.stdin)), sys.stdout)"});
    ASSERT_TRUE(reader.waitForStarted(10000));
    reader.write(discover.out.toUtf8());
    reader.closeWriteChannel();
    ASSERT_TRUE(reader.waitForFinished(30000));
    ASSERT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].toArray().toVariantList(),
              QVariantList({"Model Name", "Mac Address", "IP Address", "Netmask", "F/W Version",
                            "Device Name"}));
    QMap<QString, QString> nameByMac;
    for (int r = 1; r < rows.size(); ++r) {
        const QJsonArray cells = rows[r].toArray();
        ASSERT_EQ(cells.size(), 6);
        nameByMac.insert(cells[1].toString(), cells[5].toString());
    }
    EXPECT_EQ(nameByMac.value(bed.device(0).MacText()), QStringLiteral("'@Ops"));
    EXPECT_EQ(nameByMac.value(bed.device(1).MacText()), names[1]);
    EXPECT_EQ(nameByMac.value(bed.device(2).MacText()), QStringLiteral("'=1+2"));

    // A device of another model is left out by the filter, and said so with its MAC.
    bed.device(2).model = QStringLiteral("XYZ-9");
    const ProgramRun filtered = nodewarden(bed.home.path(), {"discover"});
    EXPECT_EQ(filtered.exitCode, 0);
    EXPECT_TRUE(filtered.err.contains(QStringLiteral("2 device(s) discovered.\n") +
                                      QStringLiteral("1 device of another model not listed: "
                                                     "XYZ-9 %1; Filter=0 lists it")
                                          .arg(bed.device(2).MacText())))
        << filtered.err.toStdString();

    // Nobody answers on this port: the run's options after the command, and the way the
    // requests went is said with the usual causes.
    QTemporaryDir empty;
    const QString port = QString::number(LoopbackFleet::FreeUdpPort());
    LoopbackFleet::WriteSystemIni(empty.path(),
                                  bed.loopback.SystemKeys({}, {{QStringLiteral("NimpPort"), port}}));
    const ProgramRun none = RunNodewarden({"discover", "--home", empty.path(), "--parallel", "4"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("no device answered"))) << none.err.toStdString();
    EXPECT_TRUE(none.err.contains(QStringLiteral("to 127.0.0.1, UDP port ") + port));
    EXPECT_TRUE(none.err.contains(QStringLiteral("firewall")));
    EXPECT_TRUE(none.err.contains(QDir(empty.path()).filePath(QStringLiteral("system.ini"))));
    EXPECT_EQ(RunNodewarden({"discover", "--parallel", "0"}).exitCode, 2);

    // -h, help and help COMMAND are the usage and the command's own --help.
    const ProgramRun usage = RunNodewarden({"--help"});
    EXPECT_EQ(RunNodewarden({"-h"}).out, usage.out);
    EXPECT_EQ(RunNodewarden({"help"}).out, usage.out);
    const ProgramRun own = RunNodewarden({"upgrade", "--help"});
    ASSERT_EQ(own.exitCode, 0);
    EXPECT_FALSE(own.out.isEmpty());
    EXPECT_EQ(RunNodewarden({"help", "upgrade"}).out, own.out);
    EXPECT_EQ(RunNodewarden({"upgrade", "-h"}).out, own.out);
    EXPECT_EQ(RunNodewarden({"help", "no-such"}).exitCode, 2);

    // Settings that say where to send in a way that cannot be used stop the run before anything
    // is sent, instead of broadcasting to the default.
    const QList<QPair<QMap<QString, QString>, QString>> unusable = {
        {{{QStringLiteral("NimpAddress"), QStringLiteral("10.0.0.300")}}, QStringLiteral("NimpAddress=\"10.0.0.300\"")},
        {{{QStringLiteral("NimpPort"), QStringLiteral("70000")}}, QStringLiteral("NimpPort=\"70000\"")},
        {{{QStringLiteral("StrictReplies"), QStringLiteral("1")},
          {QStringLiteral("NimpWirelessAP"), QStringLiteral("not-encrypted")}},
         QStringLiteral("StrictReplies=1 with a password that cannot be decrypted")}};
    const int datagrams = bed.loopback.fleet->DatagramsReceived();
    for (const auto& [keys, said] : unusable) {
        QTemporaryDir home;
        LoopbackFleet::WriteSystemIni(home.path(), bed.loopback.SystemKeys({}, keys));
        for (const QStringList& args : {QStringList{"discover"}, QStringList{"backup", "--all"}}) {
            const ProgramRun run = nodewarden(home.path(), args);
            EXPECT_EQ(run.exitCode, 2) << said.toStdString() << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(said)) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QStringLiteral("Nothing was sent")));
        }
    }
    EXPECT_EQ(bed.loopback.fleet->DatagramsReceived(), datagrams);
}

TEST(CommandLineScripts, WriteConfigOfABackupFileRestoresTheDevice)
{
    CliBed bed(2);
    ASSERT_TRUE(bed.loopback.started);
    SimDevice& device = bed.device(1);
    device.config.SetValue(QStringLiteral("device_name"), QStringLiteral("Hall"));
    device.config.SetValue(QStringLiteral("80211b_ssid"), QStringLiteral("guests"));
    const QString out = QDir(bed.home.path()).filePath(QStringLiteral("saved"));
    const ProgramRun backup =
        nodewarden(bed.home.path(), {"backup", "--mac", device.MacText(), "--output", out});
    ASSERT_EQ(backup.exitCode, 0) << backup.err.toStdString();
    const QByteArray saved = device.config.Render(device.model);

    device.config.SetValue(QStringLiteral("device_name"), QStringLiteral("Changed"));
    device.config.SetValue(QStringLiteral("80211b_ssid"), QStringLiteral("changed"));
    const ProgramRun restore =
        nodewarden(bed.home.path(), {"write-config", "--mac", device.MacText(), "--file",
                                     QDir(out).filePath(device.MacText() + ".cfg"), "--yes"});
    EXPECT_EQ(restore.exitCode, 0) << restore.err.toStdString();
    EXPECT_EQ(device.config.Render(device.model), saved);

    // Names in another letter case mean the same settings, and are written as the device
    // spells them; diff agrees.
    const QString upper = QDir(bed.home.path()).filePath(QStringLiteral("upper.cfg"));
    const QString lower = QDir(bed.home.path()).filePath(QStringLiteral("lower.cfg"));
    writeAll(upper, "80211B_SSID =\"NEW-CASE\"\r\nDevice_Name =\"Upper Hall\"\r\n80211B_ACL_MODE =deny\r\n");
    const QStringList writeUpper = {"write-config", "--mac", device.MacText(), "--file", upper, "--yes"};
    const ProgramRun cased = nodewarden(bed.home.path(), writeUpper);
    EXPECT_EQ(cased.exitCode, 0) << cased.err.toStdString();
    EXPECT_EQ(device.config.Value(QStringLiteral("80211b_ssid")), QStringLiteral("NEW-CASE"));
    EXPECT_EQ(device.config.Value(QStringLiteral("device_name")), QStringLiteral("Upper Hall"));
    EXPECT_EQ(device.config.Value(QStringLiteral("80211b_acl_mode")), QStringLiteral("deny"));
    writeAll(lower, "80211b_ssid =\"NEW-CASE\"\r\ndevice_name =\"Upper Hall\"\r\n80211b_acl_mode =deny\r\n");
    EXPECT_EQ(nodewarden(bed.home.path(), {"diff", upper, lower}).exitCode, 0);
    writeAll(upper, "80211B_SSID =\"NEW-CASE\"\r\nDevice_Name =\"Upper Hall\"\r\n80211B_ACL_MODE =allow\r\n");
    const ProgramRun diff = nodewarden(bed.home.path(), {"diff", upper, lower});
    EXPECT_EQ(diff.exitCode, 1);
    EXPECT_EQ(diff.out, QStringLiteral("80211B_ACL_MODE: allow -> deny\n"));

    // Two lines for one setting: refused with both line numbers, nothing sent.
    writeAll(upper, "80211b_dtim =3\r\n80211b_ssid =A\r\n80211B_DTIM =4\r\n");
    const int datagrams = bed.loopback.fleet->DatagramsReceived();
    const ProgramRun twice = nodewarden(bed.home.path(), writeUpper);
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_TRUE(twice.err.contains(QStringLiteral("lines 1 and 3: 80211b_dtim is set twice")))
        << twice.err.toStdString();
    EXPECT_EQ(bed.loopback.fleet->DatagramsReceived(), datagrams);

    // A device whose file write-config would refuse is no "OK" backup: its entry says why.
    bed.device(0).config.SetValue(QStringLiteral("device_name"), QStringLiteral("Bad\x01Name"));
    const QString both = QDir(bed.home.path()).filePath(QStringLiteral("both"));
    const ProgramRun refused = nodewarden(bed.home.path(), {"backup", "--all", "--output", both});
    EXPECT_EQ(refused.exitCode, 1) << refused.err.toStdString();
    QMap<QString, QJsonObject> entries;
    for (const QJsonValue& v : QJsonDocument::fromJson(readAll(QDir(both).filePath("index.json")))
                                   .object()
                                   .value(QStringLiteral("devices"))
                                   .toArray())
        entries.insert(v.toObject().value(QStringLiteral("mac")).toString(), v.toObject());
    const QJsonObject bad = entries.value(bed.device(0).MacText());
    EXPECT_NE(bad.value(QStringLiteral("status")).toString(), QStringLiteral("OK"));
    EXPECT_TRUE(bad.value(QStringLiteral("reason")).toString().contains(
        QStringLiteral("the value of device_name holds the control character \\x01")))
        << bad.value(QStringLiteral("reason")).toString().toStdString();
    EXPECT_EQ(entries.value(device.MacText()).value(QStringLiteral("status")).toString(),
              QStringLiteral("OK"));
    EXPECT_TRUE(refused.err.contains(bed.device(0).MacText()
                                     + QStringLiteral(" its backup could not be restored")))
        << refused.err.toStdString();
}

TEST(CommandLineScripts, SetIpShowsItsRunFirstAndNamesTheWrapAndAnAddressAnotherDeviceHolds)
{
    CliBed bed(4);
    ASSERT_TRUE(bed.loopback.started);
    const QList<SimDevice*> devices = bed.inListOrder(bed.home.path());
    ASSERT_EQ(devices.size(), 4);
    QStringList order;
    for (const SimDevice* d : devices)
        order.append(d->MacText());
    SimDevice* last = devices[3];
    last->config.SetValue(QStringLiteral("ip"), QStringLiteral("10.0.0.1"));

    // The preview: the run in the list's order, the wrap and the held address named, nothing sent.
    const ProgramRun dry =
        nodewarden(bed.home.path(), {"set-ip", "--all", "--ip", "10.0.0.253/24", "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    const QStringList lines = dry.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << dry.out.toStdString();
    const QStringList to = {"10.0.0.253", "10.0.0.254", "10.0.0.1", "10.0.0.2"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(lines[i].startsWith(order[i])) << lines[i].toStdString();
        EXPECT_TRUE(lines[i].contains(QStringLiteral(" -> ") + to[i])) << lines[i].toStdString();
        EXPECT_EQ(lines[i].contains(QStringLiteral("!")), i == 2) << lines[i].toStdString();
    }
    EXPECT_TRUE(lines[2].contains(QStringLiteral("the run wrapped past .254 to 10.0.0.1")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("10.0.0.1 is held by ") + order[3]));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bed.device(i).counters.setIp, 0) << i;

    // Run from a script it warns on standard error and goes on; /24 is a netmask.
    const ProgramRun run = nodewarden(
        bed.home.path(), {"set-ip", "--all", "--ip", "10.0.0.253", "--mask", "/24"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("the run wrapped past .254"))) << run.err.toStdString();
    EXPECT_EQ(last->IpAddress(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(last->Netmask(), QStringLiteral("255.255.255.0"));
}

TEST(CommandLineScripts, AnUpgradeInWavesStopsAfterTheWaveWithTooManyFailuresAndAsksOnATerminal)
{
    constexpr int kDevices = 7;
    CliBed bed(kDevices);
    ASSERT_TRUE(bed.loopback.started);
    LoopbackFleet::WriteSystemIni(bed.home.path(), bed.loopback.SystemKeys(kOneSecondWaits, {}));
    const QString image = QDir(bed.home.path()).filePath(QStringLiteral("fw.bin"));
    writeAll(image, "FW_VERSION=2.00.01u\n");
    const QStringList upgrade = {"upgrade", "--all", "--firmware", image};

    // On a terminal the run asks first; "n" sends nothing to any device.
    const QString answer = writeAll(QDir(bed.home.path()).filePath(QStringLiteral("answer")), "n\n");
    const ProgramRun refused = RunProgram(
        QStringLiteral("sh"),
        {"-c", QStringLiteral("script -qec '%1 --home %2 %3' /dev/null < %4")
                   .arg(NODEWARDEN_BIN, bed.home.path(), upgrade.join(' '), answer)});
    EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains(QStringLiteral("Upgrade 7 device(s) at once with fw.bin (")))
        << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains(QStringLiteral("nothing was sent"))) << refused.out.toStdString();
    for (int i = 0; i < kDevices; ++i)
        EXPECT_EQ(bed.device(i).counters.fetch + bed.device(i).counters.put, 0) << i;

    // The devices in the order the waves take them; the third one fails.
    const QList<SimDevice*> order = bed.inListOrder(bed.home.path());
    ASSERT_EQ(order.size(), kDevices);
    order[2]->tftpFail = true;

    const ProgramRun run = nodewarden(
        bed.home.path(),
        upgrade + QStringList{"--canary", "1", "--wave", "3", "--max-failures", "0", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(run.out.toUtf8()).array();
    ASSERT_EQ(rows.size(), kDevices) << run.out.toStdString();
    for (int i = 0; i < kDevices; ++i) {
        const QJsonObject row = rows[i].toObject();
        ASSERT_EQ(row.value(QStringLiteral("Mac Address")).toString(), order[i]->MacText());
        const QString status = row.value(QStringLiteral("Status")).toString();
        if (i < 4) {
            // The canary and the second wave ran; only the failing device did not upgrade.
            EXPECT_EQ(status == QStringLiteral("OK"), i != 2) << i << status.toStdString();
            EXPECT_EQ(order[i]->version == QStringLiteral("2.00.01u"), i != 2) << i;
        } else {
            // The third wave was never started: nothing reached its devices.
            EXPECT_EQ(status, QStringLiteral("Aborted!")) << i;
            EXPECT_EQ(row.value(QStringLiteral("reason")).toString(),
                      QStringLiteral("not started: stopped after wave 2, 1 failed"));
            EXPECT_EQ(order[i]->version, QStringLiteral("1.02.07u")) << i;
            EXPECT_EQ(order[i]->counters.fetch + order[i]->counters.put + order[i]->counters.reset
                          + order[i]->counters.factoryReset,
                      0)
                << i;
        }
    }
    EXPECT_TRUE(run.err.contains(QStringLiteral("3 not started: stopped after wave 2, 1 failed")))
        << run.err.toStdString();
}

// The changes write-config --changed-only reports for each device, by MAC.
QMap<QString, QJsonArray> changesByMac(const ProgramRun& run, QMap<QString, bool>* written)
{
    QMap<QString, QJsonArray> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array()) {
        const QJsonObject row = v.toObject();
        const QString mac = row.value(QStringLiteral("Mac Address")).toString();
        out.insert(mac, row.value(QStringLiteral("Changes")).toArray());
        written->insert(mac, row.value(QStringLiteral("Written")).toBool());
        EXPECT_EQ(row.value(QStringLiteral("Status")).toString(), QStringLiteral("OK"))
            << mac.toStdString();
    }
    return out;
}

TEST(CommandLineScripts, WriteConfigChangedOnlyWritesOnlyTheDevicesThatDiffer)
{
    CliBed bed(3);
    ASSERT_TRUE(bed.loopback.started);
    const QString entry = QStringLiteral("02:1A:2B:12:34:56");
    // Device 0 holds every setting of the file already, device 1 another DTIM, device 2
    // another access list.
    for (int i = 0; i < 3; ++i) {
        bed.device(i).config.SetValue(QStringLiteral("80211b_ssid"), QStringLiteral("Lobby"));
        bed.device(i).config.Apply("80211b_acl_clr =\r\n80211b_acl_mac_add =" +
                                   (i == 2 ? QByteArray("02:1A:2B:00:00:99") : entry.toLatin1()) +
                                   "\r\n");
    }
    bed.device(0).config.SetValue(QStringLiteral("80211b_dtim"), QStringLiteral("3"));
    bed.device(2).config.SetValue(QStringLiteral("80211b_dtim"), QStringLiteral("3"));
    QFile file(QDir(bed.home.path()).filePath(QStringLiteral("wanted.cfg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("80211b_ssid =Lobby\r\n80211b_dtim =3\r\n80211b_acl_mac_add =" + entry.toLatin1() +
               "\r\n");
    file.close();
    const QStringList write = {"write-config",   "--all",  "--file", file.fileName(),
                               "--changed-only", "--json", "--yes"};
    const auto fetched = [&](int i) { return bed.device(i).counters.fetch; };

    // A dry run reads and reports what a write would change, and sends nobody a file.
    const ProgramRun dry = nodewarden(bed.home.path(), write + QStringList{"--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    QMap<QString, bool> written;
    QMap<QString, QJsonArray> changes = changesByMac(dry, &written);
    const QString mac0 = bed.device(0).MacText();
    const QString mac1 = bed.device(1).MacText();
    const QString mac2 = bed.device(2).MacText();
    EXPECT_EQ(changes.value(mac0), QJsonArray());
    EXPECT_EQ(changes.value(mac1),
              QJsonDocument::fromJson(R"([{"name": "80211b_dtim", "before": "1", "after": "3"}])")
                  .array());
    EXPECT_EQ(changes.value(mac2), QJsonDocument::fromJson(R"([
                  {"name": "80211b_acl_mac_add", "before": "02:1A:2B:00:00:99", "after": null},
                  {"name": "80211b_acl_mac_add", "before": null, "after": "02:1A:2B:12:34:56"}])")
                                       .array());
    EXPECT_EQ(written, (QMap<QString, bool>{{mac0, false}, {mac1, false}, {mac2, false}}));
    EXPECT_EQ(fetched(0) + fetched(1) + fetched(2), 0);

    // The write sends the file to the two devices that differ, and only to them.
    const ProgramRun run = nodewarden(bed.home.path(), write);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    changes = changesByMac(run, &written);
    EXPECT_EQ(written, (QMap<QString, bool>{{mac0, false}, {mac1, true}, {mac2, true}}));
    EXPECT_EQ(fetched(0), 0);
    EXPECT_EQ(fetched(1), 1);
    EXPECT_EQ(fetched(2), 1);
    // What the devices held before stays beside the working files.
    EXPECT_TRUE(readAll(QDir(bed.home.path()).filePath("Config/Temp/before/" + mac1 + ".cfg"))
                    .contains("80211b_dtim =1\r\n"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(bed.device(i).config.Value(QStringLiteral("80211b_dtim")), QStringLiteral("3"));
        EXPECT_EQ(bed.device(i).config.AclEntries(1), QStringList{entry}) << i;
    }

    // Again: nothing differs, nothing is written.
    const ProgramRun again = nodewarden(bed.home.path(), write);
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    changes = changesByMac(again, &written);
    for (const QString& mac : {mac0, mac1, mac2}) {
        EXPECT_EQ(changes.value(mac), QJsonArray()) << mac.toStdString();
        EXPECT_FALSE(written.value(mac));
    }
    EXPECT_EQ(fetched(0) + fetched(1) + fetched(2), 2);

    // A device's own backup file (model line first) written back: nothing differs.
    const QString backups = QDir(bed.home.path()).filePath(QStringLiteral("bk"));
    ASSERT_EQ(nodewarden(bed.home.path(), {"backup", "--mac", mac1, "--output", backups}).exitCode, 0);
    const ProgramRun restore = nodewarden(
        bed.home.path(), {"write-config", "--mac", mac1, "--file",
                          QDir(backups).filePath(mac1 + ".cfg"), "--changed-only", "--dry-run",
                          "--json", "--yes"});
    ASSERT_EQ(restore.exitCode, 0) << restore.err.toStdString();
    EXPECT_EQ(changesByMac(restore, &written).value(mac1), QJsonArray()) << restore.out.toStdString();

    // A setting the console does not know could never be made to hold: refused, nothing sent.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("80211b_dtim =3\r\n80211b_dtmi =4\r\n");
    file.close();
    const int datagrams = bed.loopback.fleet->DatagramsReceived();
    const ProgramRun unknown = nodewarden(bed.home.path(), write);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(
        unknown.err.contains(QStringLiteral("settings the console does not know: 80211b_dtmi")))
        << unknown.err.toStdString();
    EXPECT_EQ(bed.loopback.fleet->DatagramsReceived(), datagrams);
}

TEST(CommandLineScripts, TheJsonOfARunSaysWhereEachDeviceEndedAndWhyAndTheSummaryGroupsIt)
{
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.silent = {1, 2}; // listed by Discover, then never answering
    CliBed bed(o);
    ASSERT_TRUE(bed.loopback.started);
    const QString out = QDir(bed.home.path()).filePath(QStringLiteral("bk"));
    const ProgramRun run =
        nodewarden(bed.home.path(), {"backup", "--all", "--output", out, "--json", "--yes"});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    QMap<QString, QJsonObject> byMac;
    for (const QJsonValue& v : QJsonDocument::fromJson(run.out.toUtf8()).array())
        byMac.insert(v.toObject().value(QStringLiteral("Mac Address")).toString(), v.toObject());
    ASSERT_EQ(byMac.size(), 3) << run.out.toStdString();
    const QJsonObject ok = byMac.value(bed.device(0).MacText());
    EXPECT_EQ(ok.value(QStringLiteral("step")).toString(), QStringLiteral("read-config"));
    EXPECT_FALSE(ok.contains(QStringLiteral("reason")));
    for (int i : {1, 2}) {
        const QJsonObject silent = byMac.value(bed.device(i).MacText());
        EXPECT_EQ(silent.value(QStringLiteral("Status")).toString(), QStringLiteral("-Time Out-"));
        EXPECT_EQ(silent.value(QStringLiteral("step")).toString(), QStringLiteral("read-config"));
        EXPECT_EQ(silent.value(QStringLiteral("reason")).toString(),
                  QStringLiteral("no answer within ConfigUploadTime 3 s + TimingTolerance 0 s"));
    }
    // One group for both, then a line for each.
    EXPECT_TRUE(run.err.contains(QStringLiteral(
        "Back Up Configurations: 1 OK, 2 failed: 2 -Time Out- sending its configuration "
        "(ConfigUploadTime 3 s + TimingTolerance 0 s) in ")))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(bed.device(2).MacText()
                                 + QStringLiteral(" -Time Out- sending its configuration: no answer")));
}

// Without a display the demo is the console's main job through the command line: every
// managed device of its own simulated fleet ends on the new firmware, and the configuration
// read before the upgrade is the one read after it.
TEST(CommandLineScripts, TheHeadlessDemoUpgradesItsFleetAndTheConfigurationSurvives)
{
    // The suite's offscreen platform is no display: the demo runs headless.
    const ProgramRun run = RunNodewarden({QStringLiteral("--demo"), QStringLiteral("4")}, 240000);
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("no setting differs")));
    // The last Discover's table: every device on the image's version.
    const QString last = run.out.mid(run.out.lastIndexOf(QStringLiteral("$ nodewarden discover")));
    EXPECT_EQ(last.count(QStringLiteral("1.03.00")), 4) << last.toStdString();
}

#endif
