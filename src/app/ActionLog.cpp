#include "app/ActionLog.h"

#include "app/LogFile.h"
#include "common/LogFormat.h"
#include "common/TextHelpers.h"

ActionLog::ActionLog(QObject* parent) : QObject(parent) {}

ActionLog::~ActionLog() = default;

void ActionLog::LogAction(const QString& text)
{
    // One reading of the clock for the shown prefix and the file's date.
    const QDateTime now = QDateTime::currentDateTime();
    appendLine(LogTimePrefix(now.time(), m_developerMode) + text, now);
}

void ActionLog::AppendLine(const QString& line)
{
    appendLine(line, QDateTime::currentDateTime());
}

void ActionLog::appendLine(const QString& line, const QDateTime& when)
{
    // Lines may carry what devices and peers reported (names, versions, file names): nothing
    // that does not print reaches the list, a terminal or a file.
    const QString shown = EscapeUntrusted(line);
    m_lines.append(shown);
    writeFile(shown, when);
    emit lineAdded(shown);
}

void ActionLog::writeFile(const QString& line, const QDateTime& when)
{
    if (!m_file || m_file->Append(line, when))
        return;
    const QString path = m_file->PathFor(when.date());
    m_file.reset();
    appendLine(LogFileWriteFailText + path, when);
}

void ActionLog::Clear()
{
    m_lines.clear();
    emit cleared();
}

void ActionLog::WriteToFolder(const QString& folder, int keepDays)
{
    const QDateTime now = QDateTime::currentDateTime();
    LogFile::RemoveOlderThan(folder, keepDays, now.date());
    m_file = std::make_unique<LogFile>(folder);
    for (const QString& line : QStringList(m_lines)) {
        if (!m_file)
            break;
        writeFile(line, now);
    }
}

QString ActionLog::FilePathToday() const
{
    return m_file ? m_file->PathFor(QDate::currentDate()) : QString();
}
