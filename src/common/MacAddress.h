#pragma once

#include <QHashFunctions>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// A device's hardware address: six bytes. Devices report it as twelve hexadecimal digits, and
// files and logs name a device that way (upper case, no separators); an administrator may
// also write it with colons or hyphens.
class MacAddress
{
public:
    MacAddress() = default;

    // Twelve hex digits, in either case, optionally in pairs separated by ':' or '-'
    // throughout; nothing when the text is anything else.
    static std::optional<MacAddress> Parse(const QString& text);

    bool IsNull() const { return m_bytes == std::array<uint8_t, 6>{}; }
    const std::array<uint8_t, 6>& Bytes() const { return m_bytes; }
    // Twelve upper-case hex digits, as devices report it.
    QString ToString() const;
    quint64 ToNumber() const;

    friend bool operator==(const MacAddress& a, const MacAddress& b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const MacAddress& a, const MacAddress& b) { return !(a == b); }
    friend bool operator<(const MacAddress& a, const MacAddress& b) { return a.m_bytes < b.m_bytes; }

private:
    std::array<uint8_t, 6> m_bytes{};
};

inline size_t qHash(const MacAddress& mac, size_t seed = 0) noexcept
{
    return qHash(mac.ToNumber(), seed);
}
