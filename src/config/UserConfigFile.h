#pragma once

#include <QString>
#include <QStringList>

// A configuration file the user chose: the FILE of the write-config command and the file of
// the configuration window's Open. Files the devices store are read as they come (Latin-1,
// ConfigText.h); a file from elsewhere is checked before any of it is used, because whatever
// it holds is sent to the devices.
struct UserConfigFile
{
    // The lines, decoded, split as the loader splits them.
    QStringList lines;
    // Why the file is refused (naming the file, and the line for a bad value); empty when it
    // can be used.
    QString error;
};

// Reads and checks the file: at most UserConfigFileLimit bytes; read as UTF-8 when it is valid
// UTF-8 and as Latin-1 otherwise; no value holds a control character (a tab aside) or a
// character outside Latin-1, which the device cannot store; no setting is given twice (names
// in any letter case); and at least one line is a setting the console knows.
UserConfigFile ReadUserConfigFile(const QString& fileName);

inline constexpr qint64 UserConfigFileLimit = 1024 * 1024;

namespace UserConfigText {
// %1 the file.
inline constexpr const char* Missing = "%1 does not exist";
inline constexpr const char* NotAFile = "%1 is not a file";
inline constexpr const char* Unreadable = "%1 cannot be read";
inline constexpr const char* TooLarge = "%1 is larger than 1 MB: it is not a configuration file";
inline constexpr const char* NoKnownSetting = "%1 holds no setting the console knows";
// %1 the file, %2 and %3 the line numbers, %4 the setting's name.
inline constexpr const char* SetTwice = "%1, lines %2 and %3: %4 is set twice";
// %1 the file, %2 the line number, %3 the setting's name, %4 the character (escaped).
inline constexpr const char* ControlCharacter =
    "%1, line %2: the value of %3 holds the control character %4";
inline constexpr const char* NotLatin1 =
    "%1, line %2: the value of %3 holds the character %4, which the device cannot store "
    "(only Latin-1 characters)";
} // namespace UserConfigText
