#include "config/ConfigDiff.h"

#include <gtest/gtest.h>

TEST(ConfigDiff, ComparesSettingsAsTheVerificationReadsThem)
{
    const QStringList a = {
        QStringLiteral("KTR-4200"),
        QStringLiteral("device_name =\"Lobby\""),
        QStringLiteral("80211a_wep64_key =keep 0x00 0x00 0x00 0x00"),
        QStringLiteral("80211a_wep64_key =0x0A 0x0B 0x0C 0x0D 0x0E"),
        QStringLiteral("80211b_wep64_key =0x01 0x02 0x03 0x04 0x05"),
        QStringLiteral("80211b_acl_clr ="),
        QStringLiteral("80211b_acl_mac_add =02:1a:2b:00:00:01"),
        QStringLiteral("country_code =US"),
        QStringLiteral("80211a_dtim =1"),
    };
    const QStringList b = {
        QStringLiteral("KTR-4200AP"),
        QStringLiteral("DEVICE_NAME=\"Lobby\""),
        QStringLiteral("80211a_wep64_key=keep 0x00 0x00 0x00 0x00"),
        // The second 802.11a key, read back in another spelling and length name.
        QStringLiteral("80211A_WEP128_KEY=0a 0b 0c 0d 0e"),
        QStringLiteral("80211b_wep64_key=01 02 03 04 06"),
        QStringLiteral("80211b_acl_mac_add=02:1A:2B:00:00:01"),
        QStringLiteral("80211b_acl_mac_add=02:1A:2B:00:00:02"),
        QStringLiteral("80211a_dtim=1"),
        QStringLiteral("80211a_dtim=3"), // the first line of a name wins
        QStringLiteral("ip=10.0.0.5"),
    };
    EXPECT_EQ(DiffConfigLines(a, b),
              (QStringList{
                  "80211b_wep64_key1: 0x01 0x02 0x03 0x04 0x05 -> 01 02 03 04 06",
                  "country_code: US -> (none)",
                  "ip: (none) -> 10.0.0.5",
                  "80211b_acl_mac_add: added 02:1A:2B:00:00:02",
              }));
    EXPECT_TRUE(DiffConfigLines(b, b).isEmpty());
}
