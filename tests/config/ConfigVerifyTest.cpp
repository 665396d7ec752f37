#include "config/ConfigVerify.h"

#include "ConfigTestFiles.h"

#include <gtest/gtest.h>

namespace {

// Runs a verification of two files given as lines, in developer mode, collecting the log.
class Verify : public ::testing::Test
{
protected:
    int Run(const QStringList& a, const QStringList& b)
    {
        log.clear();
        pathA = files.Write("dev.WR", a);
        pathB = files.Write("dev.RD", b);
        return VerifyConfigFiles(
            pathA, pathB, [this](const QString& line) { log.append(line); }, true);
    }
    QString ErrorLine(const QString& name) const
    {
        return "Verify Error:" + name + ", of " + pathA + " compare to " + pathB;
    }

    ConfigFiles files;
    QString pathA;
    QString pathB;
    QStringList log;
};

const QStringList kWritten = {
    "KTR-4200",
    "device_name =\"Lobby\"",
    "telnet_option =enable",
    "80211a_channel =36",
    "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
    "80211a_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A "
    "0x0B 0x0C 0x0D",
    "80211a_wep64_key =empty 0x00 0x00 0x00 0x00",
    "80211a_wep64_key =0x0A 0x0B 0x0C 0x0D 0x0E"};

} // namespace

TEST_F(Verify, ConfirmsWhatTheDeviceReportsWhateverItAddsAndWhatever11aChannel)
{
    const QStringList readBack = {"80211a_channel =161",
                                  "firmware_version =2.01",
                                  "DEVICE_NAME =\"lobby\"",
                                  "telnet_option =ENABLE",
                                  "80211a_wep152_key =0x99 0x98 0x97 0x96 0x95 0x94 0x93 0x92 0x91 "
                                  "0x90 0x8F 0x8E 0x8D 0x8C 0x8B 0x8A",
                                  "80211A_WEP64_KEY= 1 2 3 4 5 6 7 8 9 a b c d",
                                  "80211a_wep64_key =empty",
                                  "80211a_wep64_key =0a 0b 0c 0d 0e"};
    EXPECT_EQ(Run(kWritten, readBack), 0);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(Verify, NamesMustKeepTheirSpacingAndValuesMustMatch)
{
    QStringList readBack = {"device_name=\"Lobby\"", "telnet_option =enable"};
    EXPECT_EQ(Run({"device_name =\"Lobby\"", "telnet_option =enable"}, readBack), -1);
    EXPECT_EQ(log, QStringList({ErrorLine("device_name ")}));

    EXPECT_EQ(Run({"telnet_option =enable", "80211b_dtim =3"},
                  {"telnet_option =enable", "80211b_dtim =4"}),
              -1);
    EXPECT_EQ(log, QStringList({ErrorLine("80211b_dtim ")}));
}

TEST_F(Verify, Keys11aArePairedByPositionAndKeepNeedsAReadBackLine)
{
    const QString key5 = "80211a_wep64_key =0x0A 0x0B 0x0C 0x0D 0x0E";
    EXPECT_EQ(Run({key5, "80211a_wep64_key =keep 0x00 0x00 0x00 0x00"},
                  {"80211a_wep64_key =0x0A 0x0B 0x0C 0x0D 0x0E"}),
              -1)
        << "a kept key still needs its line in the read-back";
    EXPECT_EQ(log, QStringList({kVerifyLoadFailText}));

    EXPECT_EQ(Run({key5, "80211a_wep64_key =0x01 0x02 0x03 0x04 0x05"},
                  {"80211a_wep64_key =01 02 03 04 05", "80211a_wep64_key =0a 0b 0c 0d 0e"}),
              -1)
        << "swapped keys are not confirmed";
    EXPECT_EQ(log, QStringList({ErrorLine("80211a_wep_key")}));
}

TEST_F(Verify, Keys11bArePairedByPositionEvenAcrossEmptyWrittenKeys)
{
    const QStringList written = {"80211b_wep64_key =0x1A 0x2B 0x3C 0x4D 0x5E",
                                 "80211b_wep64_key =", "80211b_wep64_key =0x01 0x02 0x03 0x04 0x05",
                                 "80211b_wep64_key ="};
    EXPECT_EQ(
        Run(written, {"80211b_wep64_key =1a 2b 3c 4d 5e", "80211b_wep64_key =00 00 00 00 00",
                      "80211b_wep64_key =01 02 03 04 05", "80211b_wep64_key =00 00 00 00 00"}),
        0)
        << log.join('\n').toStdString();

    EXPECT_EQ(
        Run(written, {"80211b_wep64_key =1a 2b 3c 4d 5e", "80211b_wep64_key =00 00 00 00 00",
                      "80211b_wep64_key =01 02 03 04 06", "80211b_wep64_key =00 00 00 00 00"}),
        -1);
    EXPECT_EQ(log, QStringList({ErrorLine("80211b_wep64_key ")}));

    EXPECT_EQ(Run({"80211b_wep128_key =0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 0x0A 0x0B 0x0C "
                   "0x0D"},
                  {"80211b_wep128_key =0x0D 0x0C 0x0B 0x0A 0x09 0x08 0x07 0x06 0x05 0x04 0x03 0x02 "
                   "0x01"}),
              -1)
        << "a key read back as another key";
}

TEST_F(Verify, AccessControlListsMustComeBackAsWrittenAndNoLonger)
{
    const QStringList written = {"80211a_acl_mode =allow",
                                 "80211a_acl_clr =", "80211a_acl_mac_add =02:1A:2B:00:00:01",
                                 "80211a_acl_mac_add =02:1A:2B:00:00:02", "80211b_acl_clr ="};
    const QString m1 = "80211a_acl_mac_add =02:1a:2b:00:00:01";
    const QString m2 = "80211a_acl_mac_add =02:1A:2B:00:00:02";
    const QString m3 = "80211a_acl_mac_add =02:1A:2B:00:00:03";

    EXPECT_EQ(Run(written, {"80211a_acl_mode =allow", m1, m2}), 0);
    EXPECT_EQ(Run(written, {"80211a_acl_mode =allow", m2, m1}), -1);
    EXPECT_EQ(log, QStringList({ErrorLine("80211a_acl_mac_add ")}));
    EXPECT_EQ(Run(written, {"80211a_acl_mode =allow", m1, m2, m3}), -1);
    EXPECT_EQ(log, QStringList({kVerifyLoadFailText}));
    EXPECT_EQ(
        Run(written, {"80211a_acl_mode =allow", m1, m2, "80211b_acl_mac_add =02:1A:2B:00:00:09"}),
        -1)
        << "a cleared 802.11b list must come back empty";

    // Entries of a list A did not rewrite are none of the verification's business.
    EXPECT_EQ(Run({"80211a_acl_mode =allow"}, {"80211a_acl_mode =allow", m3}), 0);
}

TEST_F(Verify, UnreadableFilesFailAndAreLoggedOnlyInDeveloperMode)
{
    const QString a = files.Write("ok.WR", {"telnet_option =enable"});
    QStringList lines;
    const auto sink = [&](const QString& line) { lines.append(line); };

    EXPECT_EQ(VerifyConfigFiles(a, files.Path("missing.RD"), sink, true), -1);
    EXPECT_EQ(lines, QStringList({kVerifyLoadFailText}));
    EXPECT_EQ(VerifyConfigFiles(files.Path("missing.WR"), a, sink, false), -1);
    EXPECT_EQ(VerifyConfigFiles(a, files.Write("bad.RD", {"telnet_option =disable"}), sink, false),
              -1);
    EXPECT_EQ(lines.size(), 1) << "nothing is logged outside developer mode";
}
