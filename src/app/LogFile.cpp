#include "app/LogFile.h"

#include "common/TextHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {
const QString DayFormat = QStringLiteral("yyyy-MM-dd");
const QString Extension = QStringLiteral(".log");
} // namespace

QString IsoLocalTime(const QDateTime& when)
{
    const QDateTime local = when.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

LogFile::LogFile(QString folder) : m_folder(std::move(folder)) {}

QString LogFile::PathFor(const QDate& day) const
{
    return QDir(m_folder).filePath(day.toString(DayFormat) + Extension);
}

bool LogFile::Append(const QString& line, const QDateTime& when)
{
    const QDate day = when.toLocalTime().date();
    if (day != m_day || !m_file.isOpen()) {
        m_file.close();
        m_day = day;
        if (!QDir().mkpath(m_folder))
            return false;
        m_file.setFileName(PathFor(day));
        // Unbuffered: each line is one write, and nothing is lost when the program ends badly.
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return false;
    }
    // The lines are escaped where they are made; a line break must not forge a line here
    // whatever reached the log.
    const QByteArray bytes =
        (IsoLocalTime(when) + QLatin1Char(' ') + EscapeUntrusted(line) + QLatin1Char('\n'))
            .toUtf8();
    return m_file.write(bytes) == bytes.size();
}

int LogFile::RemoveOlderThan(const QString& folder, int keepDays, const QDate& today)
{
    if (keepDays <= 0)
        return 0;
    static const QRegularExpression dayFile(QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})\\.log$"));
    const QDate oldestKept = today.addDays(-keepDays);
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        const QRegularExpressionMatch m = dayFile.match(entry.fileName());
        if (!m.hasMatch())
            continue;
        const QDate day = QDate::fromString(m.captured(1), DayFormat);
        if (day.isValid() && day < oldestKept && QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}
