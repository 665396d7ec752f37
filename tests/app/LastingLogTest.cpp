// The log that lasts: day files with the full date and time in front of each line, old files
// removed at start-up, and the summary line that ends every operation.
#include "AppTestBed.h"
#include "app/DeviceListModel.h"
#include "app/LogFile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void touch(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("old line\n");
}

QStringList fileLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TEST(LastingLog, DayFilesHoldEveryLineWithItsDateAndOldFilesGoAtStartUp)
{
    QTemporaryDir dir;
    const QDir logs(QDir(dir.path()).filePath(QStringLiteral("Logs")));
    ASSERT_TRUE(logs.mkpath(QStringLiteral(".")));
    const QDate today = QDate::currentDate();
    const auto dayFile = [&](int daysAgo) {
        return logs.filePath(today.addDays(-daysAgo).toString(QStringLiteral("yyyy-MM-dd")) +
                             ".log");
    };
    touch(dayFile(11));
    touch(dayFile(9));
    touch(logs.filePath(QStringLiteral("notes.txt")));
    // A setting the engine warns about: the warning is logged before the file is opened.
    LoopbackFleet::WriteSystemIni(dir.path(),
                                  {{QStringLiteral("NimpAddress"), QStringLiteral("127.0.0.1")},
                                   {QStringLiteral("LogKeepDays"), QStringLiteral("10")},
                                   {QStringLiteral("RebootTime"), QStringLiteral("soon")}});

    AppCore core(dir.path());
    EXPECT_FALSE(QFile::exists(dayFile(11)));
    EXPECT_TRUE(QFile::exists(dayFile(9)));
    EXPECT_TRUE(QFile::exists(logs.filePath(QStringLiteral("notes.txt"))));

    core.LogAction(QStringLiteral("first\nforged line"));
    core.Log().AppendLine(QStringLiteral("3 device(s) discovered."));
    QStringList lines = fileLines(core.Log().FilePathToday());
    // The file the settings came from is named before what in it was ignored.
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.takeFirst().endsWith(QStringLiteral("Settings read from %1:")
                                               .arg(QDir(dir.path()).filePath("system.ini"))));
    const QString iso = QStringLiteral(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )");
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^") + iso +
                    QStringLiteral(R"(\d\d:\d\d \d\d'\d\d Setting RebootTime="soon" ignored)"))
                    .match(lines[0])
                    .hasMatch())
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + iso +
                                   QStringLiteral(R"(\d\d:\d\d \d\d'\d\d first\\nforged line$)"))
                    .match(lines[1])
                    .hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(lines[1].startsWith(today.toString(Qt::ISODate)));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^") + iso +
                                   QStringLiteral("3 device\\(s\\) discovered\\.$"))
                    .match(lines[2])
                    .hasMatch());

    // Discover empties the window's list, not the file.
    core.Log().Clear();
    core.LogAction(QStringLiteral("after"));
    EXPECT_EQ(fileLines(core.Log().FilePathToday()).size(), 5);
}

TEST(LastingLog, EveryOperationEndsWithOneSummaryLine)
{
    Ktr4200FleetOptions o = QuickFleetOptions(3);
    o.badPassword = {1};
    AppTestBed bed(o);
    ASSERT_TRUE(bed.started);
    bed.core->Discover();
    ASSERT_EQ(bed.devices().Count(), 3);
    bed.devices().SelectAll();
    bed.core->SetIP(QStringLiteral("10.0.0.30"), QStringLiteral("255.255.255.0"));

    const QString failed = bed.fleet->Device(1).MacText();
    const QString status = bed.status(1);
    ASSERT_NE(status, QStringLiteral("OK"));
    // The summary groups the failures by Status and step; a line per failed device follows.
    const QStringList lines = bed.core->Log().Lines();
    const QString summaryLine = lines.at(lines.size() - 2);
    const QRegularExpression summary(
        QStringLiteral(R"(^\d\d:\d\d \d\d'\d\d Set IP: 2 OK, 1 failed: 1 )")
        + QRegularExpression::escape(status) + QStringLiteral(R"( setting the address.* in \d+ s$)"));
    EXPECT_TRUE(summary.match(summaryLine).hasMatch()) << summaryLine.toStdString();
    EXPECT_TRUE(lines.last().contains(failed + QLatin1Char(' ') + status + QStringLiteral(" setting the address")))
        << lines.last().toStdString();
    EXPECT_EQ(fileLines(bed.core->Log().FilePathToday()).last().section(QLatin1Char(' '), 1),
              lines.last());

    // Reading one device for the configuration window counts that device, whatever is selected.
    bed.core->ReadConfiguration(bed.rowOf(0));
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"( Get config: 1 OK, 0 failed in \d+ s$)"))
                    .match(bed.core->Log().Lines().last())
                    .hasMatch())
        << bed.core->Log().Lines().last().toStdString();
}
