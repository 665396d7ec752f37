// What `nodewarden discover` prints for devices whose names hold line breaks and escape
// sequences: the table shows them escaped, one line per device; the JSON keeps the bytes.
#include "LoopbackFleet.h"
#include "ProgramRun.h"
#include "TestHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

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
    const QString forged = QStringLiteral("lobby\r\n021A2B0000FF  KTR-4200  6.6.6.6  forged");
    // Discovery shows a name with bytes that do not print in hexadecimal.
    const QString escapes = QStringLiteral("\x1B[2J\x1B[H");
    o.deviceNameAt.insert(0, forged);
    o.deviceNameAt.insert(1, escapes);
    LoopbackFleet loopback(o);
    ASSERT_TRUE(loopback.started);
    QTemporaryDir home;
    LoopbackFleet::WriteSystemIni(home.path(), loopback.SystemKeys({}, {}));

    const ProgramRun table = RunNodewarden({QStringLiteral("--home"), home.path(), "discover"});
    ASSERT_EQ(table.exitCode, 0) << table.rawErr.constData();
    EXPECT_FALSE(hasControlBytes(table.rawOut));
    EXPECT_FALSE(hasControlBytes(table.rawErr));
    const QList<QByteArray> lines = table.rawOut.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 3); // the header and one row per device
    EXPECT_TRUE(lines[1].contains("lobby\\r\\n021A2B0000FF  KTR-4200  6.6.6.6  forged"));
    EXPECT_TRUE(lines[2].endsWith("1B5B324A1B5B48"));

    const ProgramRun json =
        RunNodewarden({QStringLiteral("--home"), home.path(), "discover", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.rawErr.constData();
    const QJsonArray rows = QJsonDocument::fromJson(json.rawOut).array();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject().value(QStringLiteral("Device Name")).toString(), forged);
    EXPECT_EQ(rows[1].toObject().value(QStringLiteral("Device Name")).toString(),
              QStringLiteral("1B5B324A1B5B48"));
}
