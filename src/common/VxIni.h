#pragma once

#include <QString>

// "[FILENAME]" stands for the ini file's path.
inline constexpr const char* kIniWriteFailedText =
    "(VxCommon) Fail to write value in ini file([FILENAME])!";
inline constexpr int kIniWriteFailedCode = -16;

// Access to one ini file (system.ini and the like): one value read or written per call.
// Nothing is cached; every call goes to the file, so a value written by one VxIni is seen
// by every other at once.
class VxIni
{
public:
    explicit VxIni(QString path);

    QString Path() const { return m_path; }

    // The key's value with blanks and control characters trimmed from both ends, at most
    // 4095 characters; def (unchanged) when the file, section or key is missing or the
    // value is empty.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Stores the value, keeping the rest of the file as it is. Throws VxError -16 when the
    // value cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value);

private:
    QString m_path;
};
