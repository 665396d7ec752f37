#include "common/AddressCheck.h"

#include <QStringList>
#include <algorithm>

namespace {

QString text(const char* s)
{
    return QString::fromLatin1(s);
}

// The prefix length of a netmask that is a run of ones followed by zeros; nothing otherwise.
std::optional<int> prefixLength(quint32 mask)
{
    const quint32 inverted = ~mask;
    // The zeros of a valid mask form one run at the low end: inverted + 1 is a power of two.
    if ((inverted & (inverted + 1)) != 0)
        return std::nullopt;
    int ones = 0;
    for (quint32 m = mask; m & 0x80000000u; m <<= 1)
        ++ones;
    return ones;
}

} // namespace

std::optional<quint32> ParseDottedIPv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (const QChar ch : part)
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return std::nullopt;
        const uint n = part.toUInt();
        if (n > 255)
            return std::nullopt;
        address = (address << 8) | n;
    }
    return address;
}

QString DottedIPv4(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString CheckAddressAndNetmask(const QString& address, const QString& netmask)
{
    const std::optional<quint32> ip = ParseDottedIPv4(address);
    if (!ip)
        return text(AddressCheckText::NotAnAddress).arg(address);
    const std::optional<quint32> mask = ParseDottedIPv4(netmask);
    if (!mask)
        return text(AddressCheckText::NotAnAddress).arg(netmask);
    const std::optional<int> prefix = prefixLength(*mask);
    if (!prefix || *prefix == 0)
        return text(AddressCheckText::NotANetmask).arg(netmask);

    const quint32 network = *ip & *mask;
    const quint32 broadcast = network | ~*mask;
    // Under a 31- or 32-bit netmask the address is one of the two, so such a netmask leaves
    // nothing for a device on a LAN.
    if (*ip == network)
        return text(AddressCheckText::NetworkAddress)
            .arg(DottedIPv4(*ip), DottedIPv4(network))
            .arg(*prefix);
    if (*ip == broadcast)
        return text(AddressCheckText::BroadcastAddress)
            .arg(DottedIPv4(*ip), DottedIPv4(network))
            .arg(*prefix);
    return QString();
}

QString NextRunAddress(const QString& address)
{
    const int dot = int(address.lastIndexOf(QLatin1Char('.')));
    const int last = address.mid(dot + 1).toInt();
    return address.left(dot + 1) + (last < 254 ? QString::number(last + 1) : QStringLiteral("1"));
}

QString CheckAddressRun(const QString& first, const QString& netmask, int count)
{
    QString address = first;
    for (int i = 0; i < std::max(count, 1); ++i) {
        const QString problem = CheckAddressAndNetmask(address, netmask);
        if (!problem.isEmpty())
            return i == 0
                       ? problem
                       : problem + text(AddressCheckText::InRun).arg(i + 1).arg(count).arg(first);
        address = NextRunAddress(address);
    }
    return QString();
}
