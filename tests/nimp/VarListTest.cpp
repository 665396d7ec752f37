#include "TestHelpers.h"
#include "common/VxCondition.h"
#include "common/VxError.h"
#include "nimp/VxNIMPVarList.h"

#include <gtest/gtest.h>

namespace {

VxNIMPVarList DiscoveryReplyList(const QString& model, const QString& mac)
{
    VxNIMPVarList list(NimpDiscoveryTable);
    VxNIMPResponseVarList& sub = *list.Item(0).sub;
    sub.Item(0).value = model;
    sub.Item(1).value = mac;
    sub.Item(2).value = "192.168.0.50";
    sub.Item(3).value = "255.255.255.0";
    sub.Item(4).value = "1.2.3";
    sub.Item(5).value = "lobby";
    return list;
}

QByteArray Reply(const QByteArray& records)
{
    return NimpBuildDatagram(NIMP_CMD_GET, 1, 0, Bytes("00 11 22 33 44 55"), records, {});
}

} // namespace

TEST(NimpVarList, TablesAndDeepCopies)
{
    VxNIMPVarList discovery(NimpDiscoveryTable);
    EXPECT_EQ(discovery.Name(), "Discovery Table");
    ASSERT_EQ(discovery.Count(), 1);
    ASSERT_TRUE(discovery.Item(0).sub.has_value());
    const int ids[] = {1, 2, 3, 4, 12, 251};
    ASSERT_EQ(discovery.Item(0).sub->Count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(discovery.Item(0).sub->Item(i).id, ids[i]);
    EXPECT_EQ(discovery.Item(0).sub->Item(4).name, "F/W version");

    VxNIMPVarList transfer(NimpFileTransferTable);
    EXPECT_EQ(transfer.Name(), "");
    transfer.Append(NimpVersionTable);
    ASSERT_EQ(transfer.Count(), 4);
    EXPECT_EQ(transfer.Item(3).name, "Version");

    // A copy shares nothing, sub-variables included.
    VxNIMPVarList copy = discovery;
    copy.Item(0).sub->Item(0).value = "changed";
    copy.Item(0).value = "x";
    EXPECT_EQ(discovery.Item(0).sub->Item(0).value, "");
    EXPECT_EQ(discovery.Item(0).value, "");
    copy = transfer;
    EXPECT_EQ(copy.Count(), 4);
    EXPECT_FALSE(copy.Item(0).sub.has_value());

    EXPECT_EQ(ErrorCode([&] { discovery.Item(1); }), NIMP_ERR_BAD_REFERENCE);
    EXPECT_EQ(ErrorCode([&] { discovery.Item(0).sub->Item(6); }), NIMP_ERR_BAD_REFERENCE);
}

TEST(NimpVarList, RequestRecordsFollowAccess)
{
    VxNIMPVarList list(NimpIPTable);
    list.Item(0).value = "10.0.0.2";
    list.Item(1).value = "255.0.0.0";
    list.Append(NimpVersionTable);
    list.Append(NimpActionTable);
    list.Item(3).value = "13";
    EXPECT_EQ(NimpRequestRecords(list, NIMP_CMD_GET), Bytes("03 00 03 04 00 03 0C 00 03"));
    EXPECT_EQ(NimpRequestRecords(list, NIMP_CMD_SET),
              Bytes("03 00 07 0A 00 00 02 04 00 07 FF 00 00 00 05 00 04 0D"));
    EXPECT_EQ(NimpRequestRecords(list, NIMP_CMD_DISCOVER), QByteArray());
    EXPECT_EQ(ErrorCode([&] { NimpRequestRecords(list, 2); }), NIMP_ERR_BAD_COMMAND);

    list.Item(3).value = "reset";
    EXPECT_EQ(ErrorCode([&] { NimpRequestRecords(list, NIMP_CMD_SET); }), NIMP_ERR_BAD_VALUE_TEXT);
    VxNIMPVarList discovery(NimpDiscoveryTable);
    discovery.Item(0).access = NIMP_ACCESS_READWRITE;
    EXPECT_EQ(ErrorCode([&] { NimpRequestRecords(discovery, NIMP_CMD_SET); }),
              NIMP_ERR_BAD_VALUE_TYPE);
}

TEST(NimpVarList, DecodingDiscoveryReply)
{
    const VxNIMPVarList device = DiscoveryReplyList("KTR-4200AP", "001122334455");
    const QByteArray records = NimpReplyRecords(device);
    VxNIMPVarList list(NimpDiscoveryTable);
    // Records beyond the expected ones are ignored, even malformed ones.
    ASSERT_EQ(NimpDecodeReplyRecords(Reply(records + Bytes("07 00")), list), NIMP_OK);
    const VxNIMPResponseVarList& sub = *list.Item(0).sub;
    EXPECT_EQ(sub.Item(0).value, "KTR-4200AP");
    EXPECT_EQ(sub.Item(1).value, "001122334455");
    EXPECT_EQ(sub.Item(2).value, "192.168.0.50");
    EXPECT_EQ(sub.Item(3).value, "255.255.255.0");
    EXPECT_EQ(sub.Item(4).value, "1.2.3");
    EXPECT_EQ(sub.Item(5).value, "lobby");
}

TEST(NimpVarList, DecodingErrorsKeepEarlierValues)
{
    VxNIMPVarList list(NimpIPTable);
    // Second record has the wrong id.
    EXPECT_EQ(
        NimpDecodeReplyRecords(Reply(Bytes("03 00 07 0A 00 00 01 05 00 07 FF 00 00 00")), list),
        NIMP_ERR_BAD_VARIABLE_ID);
    EXPECT_EQ(list.Item(0).value, "10.0.0.1");
    EXPECT_EQ(list.Item(1).value, "");

    // Wrong value size for a fixed-size type.
    EXPECT_EQ(NimpDecodeReplyRecords(Reply(Bytes("03 00 06 0A 00 00 04 00 07 FF 00 00 00")), list),
              NIMP_ERR_BAD_PACKET);
    // A record length below 3, one running past the end, and a reply that ends early.
    for (const char* records :
         {"03 00 07 0A 00 00 01 04 00 02", "03 00 07 0A 00 00 01 04 00 08 FF 00 00 00",
          "03 00 07 0A 00 00 01"}) {
        VxNIMPVarList l(NimpIPTable);
        EXPECT_EQ(NimpDecodeReplyRecords(Reply(Bytes(records)), l), NIMP_ERR_BAD_PACKET) << records;
        EXPECT_EQ(l.Item(0).value, "10.0.0.1");
    }
}

TEST(NimpVarList, SubstituteReplacesByType)
{
    const VxNIMPVarList list = DiscoveryReplyList("KTR-4200AP", "001122334455");
    EXPECT_EQ(Substitute("$0.0=KTR-4200AP", list), "\"KTR-4200AP\"=KTR-4200AP");
    EXPECT_TRUE(EvaluateCondition(Substitute("$0.0=KTR-4200AP", list)));
    EXPECT_TRUE(EvaluateCondition(Substitute("$0.0=KTR-4200|$0.0=KTR-4200AP", list)));
    EXPECT_FALSE(EvaluateCondition(Substitute("$0.0=KTR-4200", list)));
    EXPECT_EQ(Substitute("$0", list), "\"\"");
    EXPECT_EQ(Substitute("$.1", list), "\"001122334455\""); // no digits count as 0
    EXPECT_EQ(Substitute("no reference", list), "no reference");

    VxNIMPVarList typed;
    static const VxNIMPVarDef table[] = {
        {1, "b", NIMP_TYPE_BOOL8, NIMP_ACCESS_READWRITE, nullptr},
        {2, "t", NIMP_TYPE_TIMETICKS, NIMP_ACCESS_READWRITE, nullptr},
        {3, "d", NIMP_TYPE_DATETIME, NIMP_ACCESS_READWRITE, nullptr},
        {4, "i", NIMP_TYPE_INT16, NIMP_ACCESS_READWRITE, nullptr},
        {5, "ip", NIMP_TYPE_IPADDRESS, NIMP_ACCESS_READWRITE, nullptr},
        {0, nullptr, 0, 0, nullptr},
    };
    typed.Append(table);
    typed.Item(0).value = "true";
    typed.Item(1).value = "1 day 0:00:00.01";
    typed.Item(2).value = "1900/01/02 06:00:00 pm";
    typed.Item(3).value = "-5";
    typed.Item(4).value = "10.0.0.1";
    EXPECT_EQ(Substitute("$0 $1 $2 $3 $4", typed), "1 8640001 3.75 -5 \"10.0.0.1\"");
    typed.Item(0).value = "True";
    EXPECT_EQ(Substitute("$0", typed), "0");
}

TEST(NimpVarList, SubstituteNeverRescansInsertedValues)
{
    VxNIMPVarList list = DiscoveryReplyList("$0.0", "001122334455");
    EXPECT_EQ(Substitute("$0.0=x", list), "\"$0.0\"=x");
    list.Item(0).sub->Item(0).value = "$0.5$";
    EXPECT_EQ(Substitute("$0.0$0.5", list), "\"$0.5$\"\"lobby\"");
}

TEST(NimpVarList, SubstituteRefusesBadReferences)
{
    const VxNIMPVarList discovery = DiscoveryReplyList("KTR-4200AP", "001122334455");
    const VxNIMPVarList version(NimpVersionTable);
    for (const char* text : {"$1", "$0.6", "$99999999999=1"})
        EXPECT_EQ(ErrorCode([&] { Substitute(text, discovery); }), NIMP_ERR_BAD_REFERENCE) << text;
    EXPECT_EQ(ErrorCode([&] { Substitute("$0.0", version); }), NIMP_ERR_BAD_REFERENCE);
    try {
        Substitute("$0.0", version);
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), "(VxNIMP) Bad NIMP response variable index in the expression!");
    }
}
