#pragma once

#include <QString>

// Replaces every occurrence of placeholder that stands in the template, left to right;
// text inserted by a replacement is never searched again.
QString ReplaceAll(const QString& templ, const QString& placeholder, const QString& value);

// Text that came from the network (file names, device and model names, versions) made safe to
// show in the log, on a terminal or in a table: control characters and every other character
// that does not print are written as escapes ("\r", "\n", "\t", "\x1B", "\u202E"), so no
// escape sequence reaches a terminal and no line break forges a log line. Printable text,
// backslashes included, stays as it is. JSON output keeps the exact text instead.
QString EscapeUntrusted(const QString& text);

// A device as the windows name it to people: "name (MAC, address)", or "MAC (address)" for a
// device without a name. Every part is escaped (EscapeUntrusted).
QString DeviceIdentityText(const QString& name, const QString& mac, const QString& address);
