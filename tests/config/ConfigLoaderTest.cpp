#include "ConfigTestFiles.h"
#include "config/ConfigFile.h"

#include <QList>
#include <QPair>
#include <gtest/gtest.h>

namespace {

ConfigSettings FreshSettings()
{
    ConfigSettings settings;
    settings.bindings = MakeKtr4200BindingList();
    return settings;
}

} // namespace

TEST(ConfigLoader, Keys11aCountTogetherAndChooseTheirLengthBeforeValuesAreSet)
{
    ConfigFiles files;
    const QString path = files.Write(
        "a.cfg", {"80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
                  "80211A_WEP128_KEY=0x1 0x2 0x3 0x4 0x5 0x6 0x7 0x8 0x9 0xa 0xb 0xc 0xd",
                  "80211a_wep64_key =empty 0x00 0x00 0x00 0x00",
                  "80211a_wep152_key =0x00 0x11 0x22 0x33 0x44 0x55 0x66 0x77 0x88 0x99 0xAA 0xBB "
                  "0xCC 0xDD 0xEE 0xFF",
                  "80211a_wep64_key =0x01 0x02 0x03 0x04 0x05"});

    QStringList events;
    ConfigLoadObserver observer;
    observer.keyLengthChosen = [&](int k, const QString& choice) {
        events.append(QString("len%1=%2").arg(k).arg(choice));
    };
    observer.valueLoaded = [&](const QString& key, const QString& value) {
        if (key.startsWith("80211a_wep_key"))
            events.append(key + "=" + value);
    };
    ConfigSettings settings = FreshSettings();
    ASSERT_EQ(ConfigFile::Load(settings, path, nullptr, observer), 0);

    // The fifth key line chooses no length and is not bound to any setting.
    EXPECT_EQ(events,
              QStringList({"len1=64", "len2=128", "len3=NULL", "len4=152", "80211a_wep_key1=",
                           "80211a_wep_key2=01 02 03 04 05 06 07 08 09 0A 0B 0C 0D",
                           "80211a_wep_key3=empty",
                           "80211a_wep_key4=00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"}));
}

TEST(ConfigLoader, Keys11bCountPerNameAndEveryLineIsTrimmed)
{
    ConfigFiles files;
    // Mixed line ends, tabs and blanks around names and values, a line without "=", a name in
    // upper case (shown as the device spells it).
    const QString path = files.WriteBytes(
        "b.cfg", "KTR-4200\n"
                 " 80211b_wep64_key = 0x1a 0x2B 0x3 0x4 0x5\r"
                 "80211b_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C "
                 "0x0D\r\n"
                 "80211B_WEP64_KEY\t=\t\r\n"
                 "80211b_wep64_key =0xAA 0xBB 0xCC 0xDD 0xEE\r\n"
                 "\t80211b_dtim\t= 3 \r\n"
                 "80211b_dtim =9\r\n"
                 "firmware_version =1.2.3");
    ConfigSettings settings = FreshSettings();
    QStringList view;
    ASSERT_EQ(ConfigFile::Load(settings, path, &view), 0);

    const ConfigBindingList& b = settings.bindings;
    EXPECT_EQ(b.Value("80211b_wep64_key1"), "1A 2B 03 04 05");
    EXPECT_EQ(b.Value("80211b_wep64_key2"), "");
    EXPECT_EQ(b.Value("80211b_wep64_key3"), "AA BB CC DD EE");
    EXPECT_EQ(b.Value("80211b_wep64_key4"), "");
    EXPECT_EQ(b.Value("80211b_wep128_key1"), "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D");
    EXPECT_EQ(b.Value("80211b_dtim"), "3") << "the first line of a repeated name wins";
    EXPECT_EQ(view, QStringList({"=KTR-4200", "80211b_wep64_key1=1A 2B 03 04 05",
                                 "80211b_wep128_key1=01 02 03 04 05 06 07 08 09 0A 0B 0C 0D",
                                 "80211b_wep64_key2=", "80211b_wep64_key3=AA BB CC DD EE",
                                 "80211b_dtim=3", "80211b_dtim=9", "firmware_version=1.2.3"}));
}

TEST(ConfigLoader, QuotesModesAndAccessControlLists)
{
    ConfigFiles files;
    const QString path =
        files.Write("c.cfg", {"device_name =\"Lob\"by \"2\"\"", "80211a_ssid =\"air\"",
                              "80211a_acl_mode =deny", "80211b_acl_mode =allow",
                              "80211b_acl_clr =", "80211b_acl_mac_add =02:1A:2B:00:00:02",
                              "80211b_acl_clr =", "80211B_ACL_MAC_ADD = 02:1A:2B:00:00:01 ",
                              "80211a_acl_mac_add =02:1A:2B:00:00:0A"});
    ConfigSettings settings = FreshSettings();
    settings.acl11a.entries = {"left over"};
    ASSERT_EQ(ConfigFile::Load(settings, path), 0);

    EXPECT_EQ(settings.bindings.Value("device_name"), "Lobby 2");
    EXPECT_EQ(settings.bindings.Value("80211a_ssid"), "air");
    EXPECT_EQ(settings.bindings.Value("80211a_acl_mode"), "reject");
    EXPECT_EQ(settings.bindings.Value("80211b_acl_mode"), "accept");
    EXPECT_EQ(settings.acl11a.entries, QStringList({"02:1A:2B:00:00:0A"}));
    EXPECT_EQ(settings.acl11b.entries, QStringList({"02:1A:2B:00:00:02", "02:1A:2B:00:00:01"}));

    // A name in another letter case is the same setting: its quotes go and its words change
    // just the same.
    const QString other = files.Write("d.cfg", {"DEVICE_NAME =\"AP\"", "80211A_ACL_MODE =deny"});
    ASSERT_EQ(ConfigFile::Load(settings, other), 0);
    EXPECT_EQ(settings.bindings.Value("device_name"), "AP");
    EXPECT_EQ(settings.bindings.Value("80211a_acl_mode"), "reject");
    EXPECT_TRUE(settings.acl11a.entries.isEmpty());
    EXPECT_TRUE(settings.acl11b.entries.isEmpty());
}

TEST(ConfigLoader, UnreadableFileClearsEverySettingAndBothLists)
{
    ConfigFiles files;
    ConfigSettings settings = FreshSettings();
    ASSERT_EQ(
        ConfigFile::Load(settings, files.Write("e.cfg", {"ip =10.0.0.9", "gateway =10.0.0.1",
                                                         "80211a_acl_mac_add =02:1A:2B:00:00:0A"})),
        0);
    ASSERT_EQ(settings.bindings.Value("ip"), "10.0.0.9");

    int loaded = 0;
    ConfigLoadObserver observer;
    observer.valueLoaded = [&](const QString&, const QString& value) {
        EXPECT_TRUE(value.isEmpty());
        ++loaded;
    };
    QStringList view = {"stale"};
    EXPECT_EQ(ConfigFile::Load(settings, files.Path("missing.cfg"), &view, observer), -1);
    EXPECT_EQ(loaded, settings.bindings.size());
    for (const ConfigBinding& entry : settings.bindings.entries())
        EXPECT_TRUE(entry.value.isEmpty()) << entry.key.toStdString();
    EXPECT_TRUE(settings.acl11a.entries.isEmpty());
    EXPECT_TRUE(view.isEmpty());
    EXPECT_EQ(ConfigFile::Load(settings, files.Path(""), &view), -1) << "a folder is no file";
}

TEST(ConfigLoader, EverySettingSurvivesASaveAndLoad)
{
    ConfigFiles files;
    ConfigSettings written = FreshSettings();
    for (qsizetype i = 0; i < written.bindings.size(); ++i) {
        ConfigBinding& entry = written.bindings[i];
        if (entry.key.contains("wep") && entry.key.contains("key"))
            entry.value = "0A 1B 2C 3D 4E";
        else
            entry.value = "v" + QString::number(i);
    }
    written.bindings.SetValue("80211a_acl_mode", "reject");
    written.bindings.SetValue("80211b_acl_mode", "accept");
    written.bindings.SetValue("80211a_auth_type", "shared");
    written.acl11a.entries = {"02:1A:2B:00:00:01", "02:1A:2B:00:00:02"};
    written.acl11b.entries = {"02:1A:2B:00:00:03"};
    ASSERT_EQ(ConfigFile::Save(written, "KTR-4200", files.Path("all.WR")), 0);

    ConfigSettings read = FreshSettings();
    ASSERT_EQ(ConfigFile::Load(read, files.Path("all.WR")), 0);
    for (const ConfigBinding& entry : written.bindings.entries())
        EXPECT_EQ(read.bindings.Value(entry.key), entry.value) << entry.key.toStdString();
    EXPECT_EQ(read.acl11a.entries, written.acl11a.entries);
    EXPECT_EQ(read.acl11b.entries, written.acl11b.entries);
}
