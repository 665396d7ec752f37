#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class LogFile;

// The Action Message list: every log line of the engine goes through LogAction. The lines are
// kept here and announced, so that whatever shows the log (the main window, standard error on
// the command line) only listens. With a log folder, every line also lasts in a day file.
class ActionLog : public QObject
{
    Q_OBJECT

public:
    explicit ActionLog(QObject* parent = nullptr);
    ~ActionLog() override;

    void SetDeveloperMode(bool on) { m_developerMode = on; }
    bool DeveloperMode() const { return m_developerMode; }

    // Appends the local time ("hh:mm ss'cc ", milliseconds in developer mode) and the text.
    void LogAction(const QString& text);
    // Appends a line without a time prefix (Discover's summary line). Every line is kept and
    // announced with what does not print escaped (EscapeUntrusted).
    void AppendLine(const QString& line);
    // Empties the list; the day files keep their lines.
    void Clear();

    const QStringList& Lines() const { return m_lines; }

    // From now on every line also goes to the day files of folder (see LogFile), the lines
    // logged so far first. Day files older than keepDays days are removed (0 keeps them all).
    // When a file cannot be written, one line says so and the files are left alone.
    void WriteToFolder(const QString& folder, int keepDays);
    QString FilePathToday() const;

signals:
    void lineAdded(const QString& line);
    void cleared();

private:
    void appendLine(const QString& line, const QDateTime& when);
    void writeFile(const QString& line, const QDateTime& when);

    QStringList m_lines;
    bool m_developerMode = false;
    std::unique_ptr<LogFile> m_file;
};

// Logged (once) when the day file cannot be written; the path follows.
inline const QString LogFileWriteFailText = QStringLiteral("Cannot write the log file ");
