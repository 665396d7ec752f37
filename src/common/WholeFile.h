#pragma once

#include <QByteArray>
#include <QString>

// Writes data to path through a temporary file beside it that is renamed over it: afterwards
// the file holds all of data, or what it held before and never a part. False, with the reason
// in *error when given, when the data could not all be written and stored (a full disk, a
// read-only folder, a file size limit).
bool WriteWholeFile(const QString& path, const QByteArray& data, QString* error = nullptr);

// Copies the file from to path the same way: path holds all of from, or what it held before.
// False, with the reason in *error when given, when from cannot be read or path not written.
bool CopyWholeFile(const QString& from, const QString& path, QString* error = nullptr);
