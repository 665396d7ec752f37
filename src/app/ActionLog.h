#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The Action Message list: every log line of the engine goes through LogAction. The lines are
// kept here and announced, so that whatever shows the log (the main window, standard error on
// the command line) only listens.
class ActionLog : public QObject
{
    Q_OBJECT

public:
    explicit ActionLog(QObject* parent = nullptr);

    void SetDeveloperMode(bool on) { m_developerMode = on; }
    bool DeveloperMode() const { return m_developerMode; }

    // Appends the local time ("hh:mm ss'cc ", milliseconds in developer mode) and the text.
    void LogAction(const QString& text);
    // Appends a line without a time prefix (Discover's summary line). Every line is kept and
    // announced with what does not print escaped (EscapeUntrusted).
    void AppendLine(const QString& line);
    void Clear();

    const QStringList& Lines() const { return m_lines; }

signals:
    void lineAdded(const QString& line);
    void cleared();

private:
    QStringList m_lines;
    bool m_developerMode = false;
};
