#pragma once

#include <QByteArray>

// SHA-256 of the data as 64 lower-case hex digits. OpenSSL's, which uses the processor's
// SHA instructions where it has them: several times faster than QCryptographicHash on the
// megabytes of a firmware image.
QByteArray Sha256Hex(const QByteArray& data);
