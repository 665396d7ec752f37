#include "config/ConfigText.h"

#include "ConfigTestFiles.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

TEST(ConfigText, NormalizeWepKey)
{
    EXPECT_EQ(NormalizeWepKey("0x1a 0x2B 0x3"), "1A 2B 03");
    EXPECT_EQ(NormalizeWepKey("  1A   2b 03\t"), "1A 2B 03");
    EXPECT_EQ(NormalizeWepKey("0X123 0x 5"), "123 00 05");
    EXPECT_EQ(NormalizeWepKey("keep 0x00 0x00 0x00 0x00"), "");
    EXPECT_EQ(NormalizeWepKey("Empty 0x00 keep"), "empty");
    EXPECT_EQ(NormalizeWepKey("   "), "");
}

TEST(ConfigText, AddHexPrefixes)
{
    EXPECT_EQ(AddHexPrefixes("1A 2B"), "0x1A 0x2B");
    EXPECT_EQ(AddHexPrefixes("1A  2B"), "0x1A 0x 0x2B");
    EXPECT_EQ(AddHexPrefixes("1A"), "0x1A");
}

TEST(ConfigText, ReadConfigValue)
{
    ConfigFiles files;
    const QString path =
        files.Write("v.cfg", {"KTR-4200", " ip =192.168.0.50 ", "device_name =\"AP\"",
                              "80211a_ssid =\"a=b", "gateway =", "ip =10.0.0.1", "quote =\""});
    EXPECT_EQ(ReadConfigValue(path, "IP"), "192.168.0.50");
    EXPECT_EQ(ReadConfigValue(path, "device_name "), "AP");
    EXPECT_EQ(ReadConfigValue(path, "80211a_ssid"), "a=b");
    EXPECT_EQ(ReadConfigValue(path, "gateway"), "");
    EXPECT_EQ(ReadConfigValue(path, "quote"), "");
    EXPECT_EQ(ReadConfigValue(path, "mask"), "");
    EXPECT_EQ(ReadConfigValue(files.Path("missing.cfg"), "ip"), "");
}

TEST(ConfigText, LinesEndAtCrLfLoneCrOrLoneLfAndKeepTheirBytes)
{
    ConfigFiles files;
    QStringList lines;
    ASSERT_TRUE(ReadConfigLines(files.WriteBytes("l.cfg", "a\r\nb\rc\n\r\nd\xe9"), lines));
    EXPECT_EQ(lines, QStringList({"a", "b", "c", "", QString::fromLatin1("d\xe9")}));
    ASSERT_TRUE(ReadConfigLines(files.WriteBytes("e.cfg", ""), lines));
    EXPECT_TRUE(lines.isEmpty());
    EXPECT_FALSE(ReadConfigLines(files.Path("missing.cfg"), lines));

    ASSERT_TRUE(WriteConfigLines(files.Path("w.cfg"), {QString::fromLatin1("Caf\xe9"), "x =1"}));
    EXPECT_EQ(files.ReadBytes("w.cfg"), "Caf\xe9\r\nx =1\r\n");
}

TEST(ConfigText, AWriteTheDiskRefusesFailsAndLeavesTheFileAsItWas)
{
    ConfigFiles files;
    const QString path = files.Write("021A2B000001.WR", {"KTR-4200", "80211a_ssid =\"old\""});
    const QByteArray before = files.ReadBytes("021A2B000001.WR");
    {
        const FileSizeLimit full(0);
        EXPECT_FALSE(WriteConfigLines(path, {"KTR-4200", "80211a_ssid =\"new\""}));
    }
    EXPECT_EQ(files.ReadBytes("021A2B000001.WR"), before);
}
