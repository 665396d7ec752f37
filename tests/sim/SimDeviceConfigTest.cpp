// The device's own reading and writing of configuration files.

#include "sim/SimDeviceConfig.h"

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for texts and lists of texts.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

SimDeviceConfig Factory(const QString& version = QStringLiteral("1.0u"))
{
    SimDeviceConfig config;
    config.ResetToFactory(QStringLiteral("10.0.0.5"), QStringLiteral("255.255.255.0"),
                          QStringLiteral("AP-1"), SimDeviceConfig::RegionOfVersion(version));
    return config;
}

QStringList LinesNamed(const QStringList& lines, const QString& prefix)
{
    QStringList out;
    for (const auto& line : lines) {
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            out << line;
    }
    return out;
}

QStringList KeyLines11a(const QStringList& lines)
{
    QStringList out;
    for (const auto& line : lines) {
        if (line.startsWith(QLatin1String("80211a_wep")) && line.section(QLatin1Char('='), 0, 0).contains(QLatin1String("_key")))
            out << line;
    }
    return out;
}

} // namespace

// What the console writes comes back line for line, with its own spelling of the names,
// so that a read-back confirms the written file.
TEST(SimDeviceConfig, ReadBackRepeatsEveryWrittenSettingInTheWritersSpelling)
{
    SimDeviceConfig config = Factory();
    const QStringList written = {
        QStringLiteral("ip =10.0.0.77"),
        QStringLiteral("mask =255.255.0.0"),
        QStringLiteral("DEVICE_NAME  =\"Lobby \"2\"\""),
        QStringLiteral("country_code =France"),
        QStringLiteral("80211a_wep_status =ENABLE"),
        QStringLiteral("80211a_auth_type =shared"),
        QStringLiteral("80211a_ssid =\"hall\""),
        QStringLiteral("80211a_dtim =3"),
        QStringLiteral("80211a_acl_mode =allow"),
        QStringLiteral("80211b_rate =5.5"),
        QStringLiteral("80211b_acl_mode =deny"),
    };
    const auto result = config.Apply(("KTR-4200\r\n" + written.join(QStringLiteral("\r\n")) + "\r\n").toLatin1());
    EXPECT_TRUE(result.refused.isEmpty()) << result.refused.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(result.ignored.isEmpty());
    EXPECT_EQ(result.applied, written.size());

    const QStringList readBack = config.RenderLines();
    for (const auto& line : written)
        EXPECT_TRUE(readBack.contains(line)) << line.toStdString();
    EXPECT_EQ(config.Value(QStringLiteral("device_name")), QStringLiteral("Lobby \"2\""));
    EXPECT_EQ(config.Value(QStringLiteral("ip")), QStringLiteral("10.0.0.77"));
    // Settings the file did not name keep their factory values and spelling.
    EXPECT_TRUE(readBack.contains(QStringLiteral("80211b_dtim =1")));

    const QByteArray file = config.Render(QStringLiteral("KTR-4200"));
    EXPECT_TRUE(file.startsWith("KTR-4200\r\nip =10.0.0.77\r\n"));
    EXPECT_TRUE(file.endsWith("\r\n"));
    EXPECT_FALSE(file.contains("\n\n"));
    EXPECT_EQ(file.count("\r\n"), readBack.size() + 1);
}

TEST(SimDeviceConfig, EightOhTwoElevenAKeysByPositionWithKeepAndEmpty)
{
    SimDeviceConfig config = Factory();
    ASSERT_TRUE(config
                    .Apply("80211a_wep64_key =0x0A 0x0B 0x0C 0x0D 0x0E\r\n"
                           "80211a_wep64_key =0x01 0x02 0x03 0x04 0x05\r\n"
                           "80211a_wep152_key =00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\r\n")
                    .refused.isEmpty());
    const auto result = config.Apply("80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D\r\n"
                                     "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n"
                                     "80211a_wep64_key =empty 0x00 0x00 0x00 0x00\r\n"
                                     "80211a_wep64_key =keep 0x00 0x00 0x00 0x00\r\n");
    EXPECT_TRUE(result.refused.isEmpty());
    EXPECT_EQ(KeyLines11a(config.RenderLines()),
              (QStringList{
                  QStringLiteral("80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D"),
                  QStringLiteral("80211a_wep64_key =0x01 0x02 0x03 0x04 0x05"),
                  QStringLiteral("80211a_wep64_key =empty 0x00 0x00 0x00 0x00"),
                  QStringLiteral("80211a_wep64_key =0x00 0x00 0x00 0x00 0x00"),
              }));

    // A length no key has, a token that is no byte, a fifth key line: refused, and the
    // keys stay as they were.
    const auto bad = config.Apply("80211a_wep64_key =0x01 0x02\r\n"
                                  "80211a_wep64_key =0x01 0x02 0x03 0x04 0xZZ\r\n"
                                  "80211a_wep64_key =keep\r\n80211a_wep64_key =keep\r\n"
                                  "80211a_wep64_key =0x01 0x02 0x03 0x04 0x05\r\n");
    EXPECT_EQ(bad.refused.size(), 3);
    EXPECT_TRUE(config.RenderLines().contains(QStringLiteral("80211a_wep64_key =0x01 0x02 0x03 0x04 0x05")));
    EXPECT_EQ(KeyLines11a(config.RenderLines()).first(),
              QStringLiteral("80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D"));
}

TEST(SimDeviceConfig, EightOhTwoElevenBKeysCountPerNameAndKeepTheirSize)
{
    SimDeviceConfig config = Factory();
    const auto result = config.Apply("80211b_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D\r\n"
                                     "80211b_wep64_key =0x11 0x22 0x33 0x44 0x55\r\n"
                                     "80211b_wep64_key =\r\n"
                                     "80211b_wep256_key =0x01 0x02 0x03\r\n");
    EXPECT_EQ(result.refused, QStringList{QStringLiteral("80211b_wep256_key =0x01 0x02 0x03")});
    const QStringList keys64 = LinesNamed(config.RenderLines(), QStringLiteral("80211b_wep64_key"));
    ASSERT_EQ(keys64.size(), 4);
    EXPECT_EQ(keys64[0], QStringLiteral("80211b_wep64_key =0x11 0x22 0x33 0x44 0x55"));
    EXPECT_EQ(keys64[1], QStringLiteral("80211b_wep64_key ="));
    EXPECT_EQ(keys64[2], QStringLiteral("80211b_wep64_key =0x00 0x00 0x00 0x00 0x00"));
    EXPECT_EQ(LinesNamed(config.RenderLines(), QStringLiteral("80211b_wep128_key")).first(),
              QStringLiteral("80211b_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C 0x0D"));
    EXPECT_EQ(LinesNamed(config.RenderLines(), QStringLiteral("80211b_wep256_key")).first().count(QLatin1String("0x")),
              29);
}

TEST(SimDeviceConfig, AccessControlListsAreClearedAndFilledInFileOrder)
{
    SimDeviceConfig config = Factory();
    ASSERT_TRUE(config.Apply("80211a_acl_mac_add =02:1A:2B:00:00:01\r\n").refused.isEmpty());
    const auto result = config.Apply("80211a_acl_clr =\r\n"
                                     "80211a_acl_mac_add =02:1A:2B:12:34:57\r\n"
                                     "80211a_acl_mac_add =02:1A:2B:12:34:56\r\n"
                                     "80211a_acl_mac_add =02:1a:2b:12:34:56\r\n"
                                     "80211b_acl_mac_add =02-1A-2B-12-34-56\r\n");
    EXPECT_EQ(result.refused.size(), 2) << "a duplicate and a MAC of the wrong form";
    EXPECT_EQ(config.AclEntries(0),
              (QStringList{QStringLiteral("02:1A:2B:12:34:57"), QStringLiteral("02:1A:2B:12:34:56")}));
    EXPECT_TRUE(config.AclEntries(1).isEmpty());
    const QStringList lines = config.RenderLines();
    EXPECT_EQ(lines.mid(lines.size() - 2),
              (QStringList{QStringLiteral("80211a_acl_mac_add =02:1A:2B:12:34:57"),
                           QStringLiteral("80211a_acl_mac_add =02:1A:2B:12:34:56")}));
    EXPECT_TRUE(LinesNamed(lines, QStringLiteral("80211a_acl_clr")).isEmpty());
}

TEST(SimDeviceConfig, ValuesOutsideTheirRangeAreRefusedAndKeepTheOldValue)
{
    SimDeviceConfig config = Factory();
    const QStringList refused = {
        QStringLiteral("80211a_dtim =0"),
        QStringLiteral("80211a_beacon_interval =1001"),
        QStringLiteral("80211b_frag_threshold =12a"),
        QStringLiteral("80211b_rate =54"),
        QStringLiteral("80211a_channel =1"),
        QStringLiteral("80211b_channel =15"),
        QStringLiteral("telnet_timeout =2"),
        QStringLiteral("ip =10.0.0.300"),
        QStringLiteral("gateway =10.0.0"),
        QStringLiteral("get_reg_domain =toolong"),
        QStringLiteral("device_name =\"") + QString(41, QLatin1Char('x')) + QLatin1Char('"'),
    };
    const auto result = config.Apply(refused.join(QStringLiteral("\n")).toLatin1() + "\nfoo =bar\nno equals sign\n");
    EXPECT_EQ(result.refused, refused);
    EXPECT_EQ(result.ignored, (QStringList{QStringLiteral("foo =bar"), QStringLiteral("no equals sign")}));
    EXPECT_EQ(result.applied, 0);
    EXPECT_EQ(config.RenderLines(), Factory().RenderLines());
}

TEST(SimDeviceConfig, FactoryCountryFollowsTheFirmwareRegion)
{
    EXPECT_TRUE(Factory(QStringLiteral("2.0e")).RenderLines().contains(QStringLiteral("country_code =Europe")));
    EXPECT_TRUE(Factory(QStringLiteral("2.0x")).RenderLines().contains(QStringLiteral("country_code =US")));
    EXPECT_TRUE(LinesNamed(Factory(QStringLiteral("2.0w")).RenderLines(), QStringLiteral("country_code")).isEmpty());
}
