#pragma once

#include <QString>
#include <optional>

// Whether an IPv4 address and netmask can be given to a device. One check for the Set IP
// dialog, the configuration window and the command line, so that all three refuse the same
// pairs with the same words.

// The address of a dotted text of four numbers 0 to 255 (leading zeros allowed, "010" is 10);
// nothing for any other text.
std::optional<quint32> ParseDottedIPv4(const QString& text);
// The dotted text of an address ("10.0.0.1").
QString DottedIPv4(quint32 address);

// Why the pair cannot be given to a device; empty when it can. The netmask must be a run of
// ones followed by zeros with at least one one, and the address must be neither the network
// address nor the broadcast address of its subnet under that netmask.
QString CheckAddressAndNetmask(const QString& address, const QString& netmask);

// The address after this one in a run of consecutive addresses (Set IP on several devices):
// the last number counts up, and after .254 comes .1. The text is kept as it is up to its
// last ".".
QString NextRunAddress(const QString& address);
// CheckAddressAndNetmask for every address of a run of count addresses from first.
QString CheckAddressRun(const QString& first, const QString& netmask, int count);

namespace AddressCheckText {
// %1 the text given.
inline constexpr const char* NotAnAddress =
    "%1 is not an IPv4 address: it must be four numbers from 0 to 255, as in 192.168.1.10.";
// %1 the netmask.
inline constexpr const char* NotANetmask =
    "The netmask %1 is not a netmask: it must be a run of ones followed by zeros, as in "
    "255.255.255.0.";
// %1 the address, %2 its network, %3 the prefix length.
inline constexpr const char* NetworkAddress =
    "%1 is the network address of the subnet %2/%3; a device cannot use it.";
inline constexpr const char* BroadcastAddress =
    "%1 is the broadcast address of the subnet %2/%3; a device cannot use it.";
// Added after the reason when the address is a later one of a run: %1 the device's place in
// the run, %2 the number of devices, %3 the first address.
inline constexpr const char* InRun = " It would be the address of device %1 of %2 in the run "
                                     "from %3.";
} // namespace AddressCheckText
