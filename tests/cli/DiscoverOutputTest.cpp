// What `nodewarden discover` prints for devices whose names hold line breaks and escape
// sequences: the table shows them escaped, one line per device; the JSON keeps the bytes.
#include "LoopbackFleet.h"
#include "TestHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct RunResult
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program to its end with the event loop going, so that the fleet in this process
// answers meanwhile (bounded: 20 s).
RunResult runProgram(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(NODEWARDEN_BIN), args);
    RunResult r;
    if (!p.waitForStarted(5000))
        return r;
    if (!WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 20000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool hasControlBytes(const QByteArray& text)
{
    for (const char c : text)
        if ((uchar(c) < 0x20 && c != '\n') || uchar(c) == 0x7F)
            return true;
    return false;
}

} // namespace

TEST(CliDiscover, NamesWithLineBreaksAndEscapesPrintOneEscapedRowEachAndExactJson)
{
    Ktr4200FleetOptions o;
    o.deviceCount = 2;
    o.baseIp = QStringLiteral("10.0.0.20");
    const QString forged = QStringLiteral("lobby\r\n00055D0000FF  KTR-4200  6.6.6.6  forged");
    // Discovery shows a name with bytes that do not print in hexadecimal.
    const QString escapes = QStringLiteral("\x1B[2J\x1B[H");
    o.deviceNameAt.insert(0, forged);
    o.deviceNameAt.insert(1, escapes);
    LoopbackFleet loopback(o);
    ASSERT_TRUE(loopback.started);
    QTemporaryDir home;
    LoopbackFleet::WriteSystemIni(home.path(), loopback.SystemKeys({}, {}));

    const RunResult table = runProgram({QStringLiteral("--home"), home.path(), "discover"});
    ASSERT_EQ(table.exitCode, 0) << table.err.constData();
    EXPECT_FALSE(hasControlBytes(table.out));
    EXPECT_FALSE(hasControlBytes(table.err));
    const QList<QByteArray> lines = table.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3); // the header and one row per device
    EXPECT_TRUE(lines[1].contains("lobby\\r\\n00055D0000FF  KTR-4200  6.6.6.6  forged"));
    EXPECT_TRUE(lines[2].endsWith("1B5B324A1B5B48"));

    const RunResult json =
        runProgram({QStringLiteral("--home"), home.path(), "discover", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err.constData();
    const QJsonArray rows = QJsonDocument::fromJson(json.out).array();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject().value(QStringLiteral("Device Name")).toString(), forged);
    EXPECT_EQ(rows[1].toObject().value(QStringLiteral("Device Name")).toString(),
              QStringLiteral("1B5B324A1B5B48"));
}
