#include "common/VxBinaryString.h"

int HexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return 0;
}

VxBinaryString VxBinaryString::fromHex(const QString& hex)
{
    const qsizetype n = hex.size() / 2;
    QByteArray out(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        out[i] = char((HexDigitValue(hex[2 * i]) << 4) | HexDigitValue(hex[2 * i + 1]));
    return VxBinaryString(std::move(out));
}

VxBinaryString VxBinaryString::fromBytes(const char* data, qsizetype count)
{
    return VxBinaryString(QByteArray(data, count));
}

QString ToHex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex()).toUpper();
}

QString ToHex(const VxBinaryString& bin)
{
    return ToHex(bin.bytes());
}
