#pragma once

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QString>

// The lasting copy of the Action Message log: every line goes to Logs/YYYY-MM-DD.log of the
// data folder, after the full local date and time with its offset from UTC
// ("2026-12-09T14:05:09.047+01:00 "). The window and the command line append to the same
// files; each line is one write to a file opened for appending, so lines of two programs do
// not mix within a line.
class LogFile
{
public:
    explicit LogFile(QString folder);

    // Appends the line to the file of the day of when. False when it cannot be written.
    bool Append(const QString& line, const QDateTime& when);

    const QString& Folder() const { return m_folder; }
    QString PathFor(const QDate& day) const;

    // Removes the day files of the folder older than keepDays days before today (only files
    // named as this class names them); keepDays 0 keeps every file. Returns how many went.
    static int RemoveOlderThan(const QString& folder, int keepDays, const QDate& today);

private:
    QString m_folder;
    QDate m_day;
    QFile m_file;
};

// A local time in ISO 8601 with milliseconds and its offset from UTC:
// 2026-12-09T14:05:09.047+01:00.
QString IsoLocalTime(const QDateTime& when);
