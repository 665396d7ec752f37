#include "config/UserConfigFile.h"

#include "ConfigTestFiles.h"

#include <gtest/gtest.h>

namespace {

QString refusal(const char* templ, const QString& file, int line, const char* name,
                const QString& character)
{
    return QString::fromLatin1(templ).arg(file, QString::number(line), QString::fromLatin1(name),
                                          character);
}

} // namespace

TEST(UserConfigFile, RefusesWhatTheDevicesCannotTakeAndNamesTheLine)
{
    ConfigFiles files;
    const QString ok = files.Write("lobby", {"80211a_ssid =\"Lobby\"", "device_name =\"AP\""});
    UserConfigFile read = ReadUserConfigFile(ok);
    EXPECT_EQ(read.error, QString());
    EXPECT_EQ(read.lines, QStringList({"80211a_ssid =\"Lobby\"", "device_name =\"AP\""}));

    const QString escape =
        files.WriteBytes("esc.cfg", "80211a_dtim =1\r\n80211a_ssid =\"a\x1b[2Jb\"\r\n");
    EXPECT_EQ(ReadUserConfigFile(escape).error,
              refusal(UserConfigText::ControlCharacter, escape, 2, "80211a_ssid", "\\x1B"));
    const QString nul = files.WriteBytes("nul.cfg", QByteArray("device_name =\"a\0b\"\r\n", 20));
    EXPECT_EQ(ReadUserConfigFile(nul).error,
              refusal(UserConfigText::ControlCharacter, nul, 1, "device_name", "\\x00"));
    EXPECT_TRUE(ReadUserConfigFile(nul).lines.isEmpty());

    // Valid UTF-8 is read as UTF-8; other bytes as Latin-1, as the devices write them.
    const QString utf8 = files.WriteBytes("utf8.cfg", "80211a_ssid =\"Caf\xc3\xa9\"\r\n");
    EXPECT_EQ(ReadUserConfigFile(utf8).lines,
              QStringList{QString::fromUtf8("80211a_ssid =\"Caf\xc3\xa9\"")});
    const QString latin1 = files.WriteBytes("latin1.cfg", "80211a_ssid =\"Caf\xe9\"\r\n");
    EXPECT_EQ(ReadUserConfigFile(latin1).lines,
              QStringList{QString::fromLatin1("80211a_ssid =\"Caf\xe9\"")});
    const QString euro =
        files.WriteBytes("euro.cfg", "80211a_dtim =1\r\n\r\n80211b_ssid =\"5 \xe2\x82\xac\"\r\n");
    EXPECT_EQ(ReadUserConfigFile(euro).error,
              refusal(UserConfigText::NotLatin1, euro, 3, "80211b_ssid",
                      QString::fromUtf8("\xe2\x82\xac")));

    const QString unknown = files.Write("notes.txt", {"Lobby AP", "colour =blue"});
    EXPECT_EQ(ReadUserConfigFile(unknown).error,
              QString::fromLatin1(UserConfigText::NoKnownSetting).arg(unknown));
    const QString large = files.WriteBytes(
        "large.cfg", "80211a_dtim =1\r\n" + QByteArray(int(UserConfigFileLimit), '#'));
    EXPECT_EQ(ReadUserConfigFile(large).error,
              QString::fromLatin1(UserConfigText::TooLarge).arg(large));
}
