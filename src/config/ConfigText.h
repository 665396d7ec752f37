#pragma once

#include <QString>
#include <QStringList>

// The text level of device configuration files: 8-bit text, one "name=value" setting a
// line. Every function here is shared by the writer, the loader and the verifier.

// Removes blanks and control characters (everything up to the space character) at both
// ends. The files come from devices, so a tab or a stray CR counts as a blank too.
QString TrimConfigText(const QString& text);

// The text before the first "=" (empty for a line without "=").
QString ConfigLineName(const QString& line);
// The text after the first "="; a line without "=" has no value.
QString ConfigLineValue(const QString& line);

// The lines of a text; CR LF, a lone CR and a lone LF each end a line.
QStringList SplitConfigText(const QString& text);
// Reads a file as Latin-1 lines; CR LF, a lone CR and a lone LF each end a line.
// False when the file cannot be opened or read.
bool ReadConfigLines(const QString& fileName, QStringList& lines);
// Writes every line followed by CR LF, replacing the file; the old content survives a
// failed write. False when the file cannot be written.
bool WriteConfigLines(const QString& fileName, const QStringList& lines);

// The form in which keys are loaded and compared: upper-case hex bytes separated by single
// spaces, "empty" for an empty key and nothing for a key that is kept.
QString NormalizeWepKey(const QString& text);
// The written form of a key: "0x" before the first byte and after every space.
QString AddHexPrefixes(const QString& text);

// One value of a file: the first line whose trimmed name equals the trimmed key (either
// case), its value trimmed and without one enclosing double quote at either end. Empty
// when the file cannot be read or holds no such line.
QString ReadConfigValue(const QString& fileName, const QString& key);

// Whether the start of a file is a device configuration file: text (no control bytes but tab,
// CR and LF) whose first line is a model name, a short word without "=", followed by a
// "name =value" line. The files of Config/Temp and those a device stores look like this; a
// firmware image does not. *modelName receives the first line.
bool IsConfigurationText(const QByteArray& head, QString* modelName = nullptr);
