#pragma once

#include <QByteArray>
#include <QString>

// A byte string that converts to and from hexadecimal text (the stored form of
// encrypted values).
class VxBinaryString
{
public:
    VxBinaryString() = default;
    // Two hex digits per byte, high digit first, either case. An odd last character is
    // ignored; characters that are no hex digit count as 0.
    static VxBinaryString fromHex(const QString& hex);
    static VxBinaryString fromBytes(const char* data, qsizetype count);
    explicit VxBinaryString(QByteArray bytes) : m_bytes(std::move(bytes)) {}

    qsizetype length() const { return m_bytes.size(); }
    const QByteArray& bytes() const { return m_bytes; }
    const char* data() const { return m_bytes.constData(); }

private:
    QByteArray m_bytes;
};

// Two upper-case hex digits per byte, no separators.
QString ToHex(const VxBinaryString& bin);
QString ToHex(const QByteArray& bytes);

// Value of one hexadecimal digit; any other character counts as 0.
int HexDigitValue(QChar c);
