#pragma once

#include <QByteArray>
#include <QString>

inline constexpr const char* kDestinationUndersizeText =
    "(VxCommon) Destination buffer is undersize!";
inline constexpr int kDestinationUndersizeCode = -12;
inline constexpr const char* kNotEncryptedText =
    "(VxCommon) The source to dncrypt is not encrypted!";
inline constexpr int kNotEncryptedCode = -13;

// The cipher of values kept in ini files (the device access password): the text's bytes
// (UTF-8) in 8-byte blocks, zero-padded, each encrypted with three-key DES
// encrypt-decrypt-encrypt under schedules built into the program, followed by the text
// length as int32 little-endian, all as upper-case hex. An empty text is "00000000".
// Only a build with the same key block reads a stored value back.

// The stored hex form of the text.
QString EncryptText(const QString& text);

// The text of a stored hex form. Throws VxError -13 when the value cannot be one that
// EncryptText made (too short, or its length field negative or beyond its data).
QString DecryptText(const QString& hex);

// The block encoder under EncryptText: writes the encrypted blocks and the length field of
// plain to dest and returns the byte count (8 × blocks + 4). Throws VxError -12 when
// capacity is below that; plain.size() + 12 is always enough.
qsizetype EncryptToBuffer(const QByteArray& plain, char* dest, qsizetype capacity);
