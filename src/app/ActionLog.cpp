#include "app/ActionLog.h"

#include "common/LogFormat.h"
#include "common/TextHelpers.h"

#include <QTime>

ActionLog::ActionLog(QObject* parent) : QObject(parent) {}

void ActionLog::LogAction(const QString& text)
{
    AppendLine(LogTimePrefix(QTime::currentTime(), m_developerMode) + text);
}

void ActionLog::AppendLine(const QString& line)
{
    // Lines may carry what devices and peers reported (names, versions, file names): nothing
    // that does not print reaches the list, a terminal or a file.
    const QString shown = EscapeUntrusted(line);
    m_lines.append(shown);
    emit lineAdded(shown);
}

void ActionLog::Clear()
{
    m_lines.clear();
    emit cleared();
}
