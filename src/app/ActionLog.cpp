#include "app/ActionLog.h"

#include "common/LogFormat.h"

#include <QTime>

ActionLog::ActionLog(QObject* parent) : QObject(parent) {}

void ActionLog::LogAction(const QString& text)
{
    AppendLine(LogTimePrefix(QTime::currentTime(), m_developerMode) + text);
}

void ActionLog::AppendLine(const QString& line)
{
    m_lines.append(line);
    emit lineAdded(line);
}

void ActionLog::Clear()
{
    m_lines.clear();
    emit cleared();
}
