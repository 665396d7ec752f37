#include "config/ConfigFileTarget.h"

#include "ConfigTestFiles.h"

#include <gtest/gtest.h>

namespace {

// A configuration as the window's Save button writes it: no model-name line.
const QStringList kSaved = {"ip =10.0.0.20",
                            "mask =255.255.255.0",
                            "device_name =\"Lobby 2\"",
                            "telnet_timeout =never",
                            "country_code =US",
                            "80211a_wep_status =enable",
                            "80211a_auth_type =shared",
                            "80211a_channel =153",
                            "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
                            "80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A "
                            "0x0B 0x0C 0x0D",
                            "80211a_wep64_key =empty 0x00 0x00 0x00 0x00",
                            "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
                            "80211a_acl_mode =deny",
                            "80211b_wep64_key =0x1A 0x2B 0x3C 0x4D 0x5E",
                            "80211b_wep64_key =",
                            "80211b_acl_mode =disable",
                            "80211b_acl_clr =",
                            "80211b_acl_mac_add =02:1A:2B:00:00:01"};

} // namespace

TEST(ConfigFileTarget, ASavedConfigurationIsWrittenBackToEachDeviceUnchanged)
{
    ConfigFiles files;
    FirmwareRegion region = FirmwareRegion::Unknown;
    ConfigFileTarget target;
    target.SetFirmwareRegion(&region);
    ASSERT_EQ(target.LoadSelectedSettings(files.Write("saved.cfg", kSaved)), 0);
    EXPECT_EQ(target.KeyLengthChoice(2), "128");
    EXPECT_EQ(target.KeyLengthChoice(3), "NULL");

    ASSERT_EQ(target.SaveConfigFile("KTR-4200", files.Path("001122334455.WR")), 0);
    QStringList expected = kSaved;
    expected.prepend("KTR-4200");
    EXPECT_EQ(files.ReadBytes("001122334455.WR"), (expected.join("\r\n") + "\r\n").toLatin1());
    EXPECT_EQ(target.VerifyConfigFiles(files.Path("001122334455.WR"), files.Path("saved.cfg")), 0);

    // Several devices get one file: never a device name or an address.
    target.SetMultipleDevicesMode();
    ASSERT_EQ(target.SaveConfigFile("KTR-4200", files.Path("many.WR")), 0);
    expected.removeAt(1);
    expected.removeAt(1);
    expected.removeAt(1);
    EXPECT_EQ(QString::fromLatin1(files.ReadBytes("many.WR")).split("\r\n"),
              expected + QStringList{""});
}

TEST(ConfigFileTarget, AnUnreadableSelectionSelectsNothing)
{
    ConfigFiles files;
    FirmwareRegion region = FirmwareRegion::Unknown;
    ConfigFileTarget target;
    target.SetFirmwareRegion(&region);
    ASSERT_EQ(target.LoadSelectedSettings(files.Write("saved.cfg", kSaved)), 0);
    EXPECT_EQ(target.LoadSelectedSettings(files.Path("gone.cfg")), -1);
    ASSERT_EQ(target.SaveConfigFile(QString(), files.Path("out.cfg")), 0);
    EXPECT_EQ(files.ReadBytes("out.cfg"), (kKeepKeys.join("\r\n") + "\r\n").toLatin1());
}

TEST(ConfigFileTarget, ChannelListsFollowTheCountryAndKeepTheShownChannel)
{
    ConfigFiles files;
    FirmwareRegion region = FirmwareRegion::Unknown;
    ConfigFileTarget target;
    target.SetFirmwareRegion(&region);
    ASSERT_EQ(target.LoadSelectedSettings(files.Write("saved.cfg", kSaved)), 0);
    EXPECT_TRUE(target.channelLists().channels11a.contains("153"));

    target.SetValue("country_code", "Denmark");
    EXPECT_FALSE(target.channelLists().channels11a.contains("153"));
    EXPECT_EQ(target.Value("80211a_channel"), "153");
    ASSERT_EQ(target.SaveConfigFile(QString(), files.Path("dk.cfg")), 0);
    EXPECT_TRUE(files.ReadBytes("dk.cfg").contains("80211a_channel =153\r\n"));
    EXPECT_TRUE(files.ReadBytes("dk.cfg").contains("country_code =Denmark\r\n"));
}

TEST(ConfigFileTarget, FirmwareRegionGivesAnEmptyCountryADefaultThatIsNotWritten)
{
    ConfigFiles files;
    FirmwareRegion region = FirmwareRegion::Unknown;
    QString firmware = "1.10e";
    ConfigFileTarget target;
    target.SetFirmwareRegion(&region);
    target.SetSelectedFirmwareSource([&] { return std::optional<QString>(firmware); });
    const QString noCountry = files.Write("plain.cfg", {"80211b_dtim =3"});

    ASSERT_EQ(target.LoadConfigFile(noCountry), 0);
    EXPECT_EQ(target.countryText(), "Europe");
    EXPECT_FALSE(target.turboModeShown());
    EXPECT_EQ(target.channelLists().channels11b.size(), 13);
    ASSERT_EQ(target.SaveConfigFile(QString(), files.Path("out.cfg")), 0);
    EXPECT_FALSE(files.ReadBytes("out.cfg").contains("country_code"));

    firmware = "1.10a";
    ASSERT_EQ(target.LoadConfigFile(noCountry), 0);
    EXPECT_EQ(target.countryText(), "US");
    EXPECT_TRUE(target.turboModeShown());

    ASSERT_EQ(target.LoadConfigFile(files.Write("fr.cfg", {"country_code =France"})), 0);
    EXPECT_EQ(target.countryText(), "France");
    EXPECT_FALSE(target.turboModeShown());
    EXPECT_EQ(target.channelLists().channels11b, QStringList({"10", "11", "12", "13"}));

    // Even a failed read runs the region steps.
    firmware = "1.10e";
    EXPECT_EQ(target.LoadConfigFile(files.Path("gone.cfg")), -1);
    EXPECT_EQ(target.countryText(), "Europe");
}

TEST(ConfigFileTarget, VerificationLogsThroughTheApplicationsSinkInDeveloperMode)
{
    ConfigFiles files;
    QStringList log;
    ConfigFileTarget target;
    target.SetLog([&](const QString& line) { log.append(line); });
    const QString a = files.Write("a.WR", {"telnet_option =enable"});
    EXPECT_EQ(target.VerifyConfigFiles(a, files.Path("none.RD")), -1);
    EXPECT_TRUE(log.isEmpty());
    target.SetDeveloperMode(true);
    EXPECT_EQ(target.VerifyConfigFiles(a, files.Path("none.RD")), -1);
    EXPECT_EQ(log, QStringList({kVerifyLoadFailText}));
}
