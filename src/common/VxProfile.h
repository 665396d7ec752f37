#pragma once

#include <QString>
#include <optional>

// The profile layer under VxIni: one value read or written per call, straight from and to
// the file, with the semantics administrators know from hand-edited ini files.
//
// - Section names ("[Main Form]") and keys are compared without regard to case, after
//   trimming blanks; keys may hold dots and blanks.
// - A key line is "key=value": the value is the text after the first "=", trimmed. Lines
//   starting with ";" or "#" are comments; other lines without "=" are not keys. Keys
//   before the first section header belong to no section.
// - When a section or key occurs more than once, the first occurrence counts.
// - A write replaces only the value part of the target line, or adds the key after the
//   last key of its section, or adds the section at the end of the file. Every other byte
//   of the file (comments, blank lines, line endings, the missing final newline) stays as
//   it was; added lines take the line ending the file already uses.
// - Writes go to a temporary file that replaces the ini file in one rename, so a crash or
//   a full disk never leaves half a file behind.

// The raw value of the key, or nothing when the file, the section or the key is missing.
std::optional<QString> ProfileReadString(const QString& path, const QString& section,
                                         const QString& key);

// Whether the file holds a header of the section.
bool ProfileHasSection(const QString& path, const QString& section);

// Writes the value; creates the file when it is missing. Returns false when the file
// cannot be read or written, or when the section, key or value cannot be stored as one
// line (a line break anywhere, "]" in the section, "=" in the key, an empty key or section).
bool ProfileWriteString(const QString& path, const QString& section, const QString& key,
                        const QString& value);
