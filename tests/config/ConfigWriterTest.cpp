#include "ConfigTestFiles.h"
#include "config/ConfigFile.h"

#include <gtest/gtest.h>

TEST(ConfigWriter, DeviceFileHoldsModelLineSelectedSettingsAndKeepKeysWithCrLf)
{
    ConfigFiles files;
    ConfigSettings settings = NothingTicked();
    Tick(settings, "device_name", "Lobby 2");
    settings.bindings.SetValue("gateway", "10.0.0.1"); // not ticked: not written

    ASSERT_EQ(ConfigFile::Save(settings, "KTR-4200", files.Path("dev.WR")), 0);
    EXPECT_EQ(files.ReadBytes("dev.WR"), "KTR-4200\r\n"
                                         "device_name =\"Lobby 2\"\r\n"
                                         "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n"
                                         "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n"
                                         "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n"
                                         "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n");

    // The country and regulatory domain have no check box: written whenever they hold text.
    settings.bindings.SetValue("country_code", " US ");
    settings.bindings.SetValue("get_reg_domain", "fcc");
    QStringList expected = {"device_name =\"Lobby 2\"", "country_code =US", "get_reg_domain =fcc"};
    expected += kKeepKeys;
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), expected);
}

TEST(ConfigWriter, EmptyOrUntickedSettingsWriteNoLine)
{
    ConfigSettings settings = NothingTicked();
    Tick(settings, "device_name", "   ");
    Tick(settings, "80211a_ssid", "");
    Tick(settings, "80211b_dtim", " 3 ");
    settings.bindings.SetValue("80211b_rate", "11");
    QStringList expected = kKeepKeys;
    expected.append("80211b_dtim =3");
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), expected);
}

TEST(ConfigWriter, Keys11aTakeTheirNameFromTheirLengthAndKeepTheirPosition)
{
    ConfigSettings settings = NothingTicked();
    Tick(settings, "80211a_wep_key1", "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D");
    Tick(settings, "80211a_wep_key2", "empty");
    settings.bindings.SetValue("80211a_wep_key3", "AA BB CC DD EE"); // unticked: kept
    Tick(settings, "80211a_wep_key4", "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");

    const QStringList expected = {
        "80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D",
        "80211a_wep64_key =empty 0x00 0x00 0x00 0x00",
        "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
        "80211a_wep152_key =0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99 0xAA 0xBB 0xCC 0xDD "
        "0xEE 0xFF",
    };
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), expected);

    Tick(settings, "80211a_wep_key3", "AA BB CC DD EE");
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()).at(2),
              "80211a_wep64_key =0xAA 0xBB 0xCC 0xDD 0xEE");
}

TEST(ConfigWriter, SharedAuthenticationFollowsItsWepStatus)
{
    ConfigSettings settings = NothingTicked();
    Tick(settings, "80211a_auth_type", "shared");
    Tick(settings, "80211a_wep_status", "enable");
    Tick(settings, "80211a_channel", "36");
    Tick(settings, "80211b_auth_type", "open");
    Tick(settings, "80211b_wep_status", "64");

    QStringList lines = ConfigFile::BuildLines(settings, QString());
    EXPECT_EQ(lines.mid(0, 3), QStringList({"80211a_wep_status =enable", "80211a_auth_type =shared",
                                            "80211a_channel =36"}));
    EXPECT_EQ(lines.mid(7, 2), QStringList({"80211b_auth_type =open", "80211b_wep_status =64"}));

    settings.bindings.SetValue("80211b_auth_type", "shared");
    lines = ConfigFile::BuildLines(settings, QString());
    EXPECT_EQ(lines.mid(7, 2), QStringList({"80211b_wep_status =64", "80211b_auth_type =shared"}));
}

TEST(ConfigWriter, AccessControlModeUsesTheFileWords)
{
    ConfigSettings settings = NothingTicked();
    Tick(settings, "80211a_acl_mode", "reject");
    Tick(settings, "80211b_acl_mode", "accept");
    QStringList lines = ConfigFile::BuildLines(settings, QString());
    EXPECT_TRUE(lines.contains("80211a_acl_mode =deny"));
    EXPECT_TRUE(lines.contains("80211b_acl_mode =allow"));

    settings.bindings.SetValue("80211a_acl_mode", "disable");
    lines = ConfigFile::BuildLines(settings, QString());
    EXPECT_TRUE(lines.contains("80211a_acl_mode =disable"));
}

TEST(ConfigWriter, Keys11bKeepTheirPositionsAmongLinesOfTheirName)
{
    ConfigSettings settings = NothingTicked();
    for (int k = 1; k <= 4; ++k)
        Tick(settings, QString("80211b_wep64_key%1").arg(k), "");
    settings.bindings.SetValue("80211b_wep128_key1", "11 22 33 44 55 66 77 88 99 AA BB CC DD");

    // All four empty, and an unticked group: no 802.11b key line at all.
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), kKeepKeys);

    // Key 1 set, key 2 stored empty: the empty line stays so that key 3 stays key 3.
    settings.bindings.SetValue("80211b_wep64_key1", "1A 2B 3C 4D 5E");
    settings.bindings.SetValue("80211b_wep64_key3", "01 02 03 04 05");
    QStringList expected = kKeepKeys;
    expected +=
        {"80211b_wep64_key =0x1A 0x2B 0x3C 0x4D 0x5E",
         "80211b_wep64_key =", "80211b_wep64_key =0x01 0x02 0x03 0x04 0x05", "80211b_wep64_key ="};
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), expected);

    // Key 1 empty with key 2 set: key 2 must not move up into the first key line.
    settings.bindings.SetValue("80211b_wep64_key1", "");
    settings.bindings.SetValue("80211b_wep64_key3", "");
    settings.bindings.SetValue("80211b_wep64_key2", "AA BB CC DD EE");
    expected = kKeepKeys;
    expected += {"80211b_wep64_key =", "80211b_wep64_key =0xAA 0xBB 0xCC 0xDD 0xEE"};
    EXPECT_EQ(ConfigFile::BuildLines(settings, QString()), expected);
}

TEST(ConfigWriter, AccessControlListsFollowTheSettingsInListOrder)
{
    ConfigSettings settings = NothingTicked();
    Tick(settings, "80211b_acl_mode", "accept");
    settings.acl11a = {{"02:1A:2B:12:34:56", "02:1A:2B:AB:CD:EF"}, true};
    settings.acl11b = {{}, true};

    QStringList expected = kKeepKeys;
    expected +=
        {"80211b_acl_mode =allow", "80211a_acl_clr =", "80211a_acl_mac_add =02:1A:2B:12:34:56",
         "80211a_acl_mac_add =02:1A:2B:AB:CD:EF", "80211b_acl_clr ="};
    expected.prepend("KTR-4200");
    EXPECT_EQ(ConfigFile::BuildLines(settings, "KTR-4200"), expected);

    settings.acl11a.enabled = false;
    settings.acl11b.enabled = false;
    EXPECT_FALSE(ConfigFile::BuildLines(settings, QString()).join('\n').contains("acl_clr"))
        << "an unselected list writes nothing";
}

TEST(ConfigWriter, ReplacesAnExistingFileAndReportsAFailedWrite)
{
    ConfigFiles files;
    ConfigSettings settings = NothingTicked();
    const QString path = files.Write("saved.cfg", QStringList(200, "old line that is longer"));
    ASSERT_EQ(ConfigFile::Save(settings, QString(), path), 0);
    EXPECT_EQ(files.ReadBytes("saved.cfg"), (kKeepKeys.join("\r\n") + "\r\n").toLatin1());

    QStringList view;
    EXPECT_EQ(ConfigFile::Save(settings, QString(), files.Path("no-such-dir/x.cfg"), &view), -1);
    EXPECT_EQ(view, kKeepKeys) << "the file view shows the lines even when the write fails";
    EXPECT_EQ(ConfigFile::Save(settings, QString(), QString()), -1);
}
