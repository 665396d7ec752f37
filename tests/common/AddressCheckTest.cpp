#include "common/AddressCheck.h"

#include <gtest/gtest.h>

namespace {

QString check(const char* address, const char* mask)
{
    return CheckAddressAndNetmask(QString::fromLatin1(address), QString::fromLatin1(mask));
}

} // namespace

TEST(AddressCheck, NetmasksAreRunsOfOnesAndAddressesAreHostsOfTheirSubnet)
{
    for (const char* mask : {"255.255.255.0", "255.255.0.0", "255.0.0.0", "128.0.0.0",
                             "255.255.255.252", "255.255.254.0"})
        EXPECT_EQ(check("10.0.1.1", mask), QString()) << mask;
    // Typed into the octets in the wrong order, a gap, or no network bit at all.
    for (const char* mask :
         {"255.0.255.255", "0.255.255.255", "255.255.255.1", "255.255.253.0", "0.0.0.0"})
        EXPECT_EQ(check("10.0.1.1", mask),
                  QString::fromLatin1(AddressCheckText::NotANetmask).arg(QString::fromLatin1(mask)))
            << mask;

    EXPECT_EQ(
        check("192.168.1.0", "255.255.255.0"),
        "192.168.1.0 is the network address of the subnet 192.168.1.0/24; a device cannot use it.");
    EXPECT_EQ(
        check("192.168.1.255", "255.255.255.0"),
        "192.168.1.255 is the broadcast address of the subnet 192.168.1.0/24; a device cannot "
        "use it.");
    // The same addresses are hosts under a shorter netmask.
    EXPECT_EQ(check("192.168.1.0", "255.255.0.0"), QString());
    EXPECT_EQ(check("192.168.1.255", "255.255.0.0"), QString());
    EXPECT_EQ(
        check("10.0.0.127", "255.255.255.128"),
        "10.0.0.127 is the broadcast address of the subnet 10.0.0.0/25; a device cannot use it.");
    // A 31- or 32-bit netmask leaves no address that is neither.
    EXPECT_FALSE(check("10.0.0.5", "255.255.255.255").isEmpty());
    EXPECT_FALSE(check("10.0.0.5", "255.255.255.254").isEmpty());
    EXPECT_FALSE(check("10.0.0.4", "255.255.255.254").isEmpty());
    EXPECT_EQ(
        check("10.0.0.256", "255.255.255.0"),
        QString::fromLatin1(AddressCheckText::NotAnAddress).arg(QStringLiteral("10.0.0.256")));
}

TEST(AddressCheck, EveryAddressOfARunIsChecked)
{
    // After .254 comes .1: a run under a 24-bit netmask never reaches .0 or .255.
    EXPECT_EQ(NextRunAddress(QStringLiteral("10.0.0.254")), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(CheckAddressRun(QStringLiteral("10.0.0.250"), QStringLiteral("255.255.255.0"), 20),
              QString());
    // Under a 25-bit netmask the eighth device of a run from .120 would get the broadcast
    // address .127.
    EXPECT_EQ(CheckAddressRun(QStringLiteral("10.0.0.120"), QStringLiteral("255.255.255.128"), 7),
              QString());
    EXPECT_EQ(CheckAddressRun(QStringLiteral("10.0.0.120"), QStringLiteral("255.255.255.128"), 10),
              "10.0.0.127 is the broadcast address of the subnet 10.0.0.0/25; a device cannot use "
              "it. It would be the address of device 8 of 10 in the run from 10.0.0.120.");
}
