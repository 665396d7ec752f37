#include "common/MacAddress.h"

#include "common/VxBinaryString.h"

#include <cctype>

namespace {
// The value of a hex digit, -1 for anything else.
int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return u < 128 && std::isxdigit(int(u)) ? HexDigitValue(c) : -1;
}
} // namespace

std::optional<MacAddress> MacAddress::Parse(const QString& input)
{
    const QString text = input.trimmed();
    QChar separator;
    if (text.size() == 17) {
        separator = text.at(2);
        if (separator != QLatin1Char(':') && separator != QLatin1Char('-'))
            return std::nullopt;
    } else if (text.size() != 12) {
        return std::nullopt;
    }
    MacAddress mac;
    int at = 0;
    for (size_t i = 0; i < 6; ++i) {
        if (i > 0 && !separator.isNull() && text.at(at++) != separator)
            return std::nullopt;
        const int high = hexDigit(text.at(at++));
        const int low = hexDigit(text.at(at++));
        if (high < 0 || low < 0)
            return std::nullopt;
        mac.m_bytes[i] = uint8_t(high << 4 | low);
    }
    return mac;
}

QString MacAddress::ToString() const
{
    static const char digits[] = "0123456789ABCDEF";
    QString out(12, QLatin1Char('0'));
    for (size_t i = 0; i < 6; ++i) {
        out[int(2 * i)] = QLatin1Char(digits[m_bytes[i] >> 4]);
        out[int(2 * i + 1)] = QLatin1Char(digits[m_bytes[i] & 15]);
    }
    return out;
}

quint64 MacAddress::ToNumber() const
{
    quint64 n = 0;
    for (uint8_t b : m_bytes)
        n = n << 8 | b;
    return n;
}
