#include "TestHelpers.h"
#include "common/VxError.h"
#include "nimp/VxNIMPWire.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

// Independent MD5 of the bytes as they should be on the wire, digest field zero.
QByteArray ExpectedDigest(QByteArray datagram, const QByteArray& password)
{
    datagram.replace(12, 16, QByteArray(16, '\0'));
    return QCryptographicHash::hash(datagram + password, QCryptographicHash::Md5);
}

// Compares everything outside the digest field, then the digest against its own MD5.
void ExpectDatagram(const QByteArray& actual, const QByteArray& expectedWithoutDigest,
                    const QByteArray& password)
{
    ASSERT_EQ(actual.size(), expectedWithoutDigest.size());
    EXPECT_EQ(actual.left(12).toHex(' '), expectedWithoutDigest.left(12).toHex(' '));
    EXPECT_EQ(actual.mid(28).toHex(' '), expectedWithoutDigest.mid(28).toHex(' '));
    EXPECT_EQ(actual.mid(12, 16).toHex(), ExpectedDigest(expectedWithoutDigest, password).toHex());
}

} // namespace

TEST(NimpWire, DiscoverIsTheBareHeader)
{
    const QByteArray d =
        NimpBuildDatagram(NIMP_CMD_DISCOVER, 0, 0, NimpMacFromText("FFFFFFFFFFFF"), {}, {});
    ExpectDatagram(d,
                   Bytes("09 2B 13 38 01 00 00 24 00 00 10 00"
                         "00000000000000000000000000000000"
                         "FF FF FF FF FF FF 01 00"),
                   {});
}

TEST(NimpWire, GetOfIdTwelveMatchesTheWorkedExample)
{
    QByteArray records;
    NimpAppendRecord(records, 12, {});
    const QByteArray expected = Bytes("09 2B 13 38 05 07 00 27 00 00 10 00"
                                      "00000000000000000000000000000000"
                                      "00 11 22 33 44 55 01 00 0C 00 03");
    const QByteArray mac = NimpMacFromText("00 11 22 33 44 55");
    ExpectDatagram(NimpBuildDatagram(NIMP_CMD_GET, 7, 0, mac, records, {}), expected, {});

    // A password changes the digest only; the password itself is not sent.
    const QByteArray withPassword = NimpBuildDatagram(NIMP_CMD_GET, 7, 0, mac, records, "secret");
    ExpectDatagram(withPassword, expected, "secret");
    EXPECT_NE(withPassword.mid(12, 16),
              NimpBuildDatagram(NIMP_CMD_GET, 7, 0, mac, records, {}).mid(12, 16));
    EXPECT_TRUE(NimpDigestMatches(withPassword, "secret"));
    EXPECT_FALSE(NimpDigestMatches(withPassword, "Secret"));
    EXPECT_FALSE(NimpDigestMatches(withPassword, {}));
}

TEST(NimpWire, SetOfTwoAddresses)
{
    QByteArray records;
    NimpAppendRecord(records, 3, NimpEncodeValue(NIMP_TYPE_IPADDRESS, "192.168.0.50"));
    NimpAppendRecord(records, 4, NimpEncodeValue(NIMP_TYPE_IPADDRESS, "255.255.255.0"));
    const QByteArray d =
        NimpBuildDatagram(NIMP_CMD_SET, 255, 0, NimpMacFromText("001122aabbcc"), records, "pw");
    ExpectDatagram(d,
                   Bytes("09 2B 13 38 03 FF 00 32 00 00 10 00"
                         "00000000000000000000000000000000"
                         "00 11 22 AA BB CC 01 00"
                         "03 00 07 C0 A8 00 32"
                         "04 00 07 FF FF FF 00"),
                   "pw");
}

TEST(NimpWire, RequestThatWouldNotFitTheBufferIsRefused)
{
    const QByteArray mac = NimpBroadcastMac;
    QByteArray records;
    NimpAppendRecord(records, 1, QByteArray(8192 - 36 - 3 - 4, 'x'));
    EXPECT_EQ(NimpBuildDatagram(NIMP_CMD_SET, 0, 0, mac, records, "1234").size(), 8192 - 4);
    EXPECT_EQ(ErrorCode([&] { NimpBuildDatagram(NIMP_CMD_SET, 0, 0, mac, records, "12345"); }),
              NIMP_ERR_REQUEST_TOO_LARGE);
    EXPECT_EQ(ErrorCode([&] { NimpAppendRecord(records, 1, QByteArray(65533, 'x')); }),
              NIMP_ERR_REQUEST_TOO_LARGE);
}

TEST(NimpWire, MacTexts)
{
    for (const char* text : {"FFFFFFFFFFFF", "ff ff ff ff ff ff", "FF FF FF FF FF FF"})
        EXPECT_EQ(NimpMacFromText(text), NimpBroadcastMac) << text;
    for (const char* text : {"FFFFFFFFFF", "", "FFFFFFFFFFFFFF"})
        EXPECT_EQ(ErrorCode([&] { NimpMacFromText(text); }), NIMP_ERR_BAD_MAC) << text;
    EXPECT_EQ(NimpMacToText(Bytes("00 11 22 aa bb cc")), "001122AABBCC");
}

TEST(NimpWire, HexTextRules)
{
    EXPECT_EQ(NimpHexToBytes("00 11 22 aa bb cc"), Bytes("00 11 22 AA BB CC"));
    EXPECT_EQ(NimpHexToBytes("001122AABBCC"), Bytes("00 11 22 AA BB CC"));
    EXPECT_EQ(NimpHexToBytes("FFF"), Bytes("0F FF"));
    EXPECT_EQ(NimpHexToBytes("F F F"), Bytes("0F FF"));
    EXPECT_EQ(NimpHexToBytes("zz1g"), Bytes("00 10"));
    EXPECT_EQ(NimpHexToBytes(""), QByteArray());
}

TEST(NimpWire, BooleansAndIntegers)
{
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BOOL8, "false"), Bytes("00"));
    for (const char* text : {"False", "0", "", "true"})
        EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BOOL8, text), Bytes("01")) << text;
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BOOL16, "true"), Bytes("01 00"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BOOL32, "yes"), Bytes("01 00 00 00"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BOOL32, "false"), Bytes("00 00 00 00"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_BOOL16, Bytes("00 01")), "true");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_BOOL32, Bytes("00 00 00 80")), "true");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_BOOL32, Bytes("00 00 00 00")), "false");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_BOOL8, Bytes("00")), "false");

    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_INT8, "-1"), Bytes("FF"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_UINT8, "300"), Bytes("2C")); // low 8 bits
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_INT8, Bytes("80")), "-128");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_UINT8, Bytes("FF")), "255");
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_INT16, "1"), Bytes("00 01"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_UINT16, "65535"), Bytes("FF FF"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_INT16, Bytes("80 00")), "-32768");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_UINT16, Bytes("80 00")), "32768");
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_INT32, "-2147483648"), Bytes("80 00 00 00"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_INT32, " 1 "), Bytes("00 00 00 01"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_INT32, Bytes("FF FF FF FF")), "-1");
    // Every uint32 a device reports can be written back.
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_UINT32, Bytes("FF FF FF FF")), "4294967295");
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_UINT32, "4294967295"), Bytes("FF FF FF FF"));

    for (const char* text : {"", "abc", "1.5", "0x10", "12a"})
        EXPECT_EQ(ErrorCode([&] { NimpEncodeValue(NIMP_TYPE_INT16, text); }),
                  NIMP_ERR_BAD_VALUE_TEXT)
            << text;
    EXPECT_EQ(ErrorCode([&] { NimpEncodeValue(NIMP_TYPE_INT32, "2147483648"); }),
              NIMP_ERR_BAD_VALUE_TEXT);
    EXPECT_EQ(ErrorCode([&] { NimpEncodeValue(NIMP_TYPE_UINT32, "4294967296"); }),
              NIMP_ERR_BAD_VALUE_TEXT);
}

TEST(NimpWire, DoubleWordOrder)
{
    // 1.0 is 3FF0000000000000: low word first, then the high word.
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_DOUBLE, "1"), Bytes("00 00 00 00 3F F0 00 00"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DOUBLE, Bytes("00 00 00 00 3F F8 00 00")), "1.5");
    for (const char* text :
         {"0", "-2.25", "3.14159265358979", "1E20", "1.5E-7", "123456789012345"}) {
        EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DOUBLE, NimpEncodeValue(NIMP_TYPE_DOUBLE, text)), text);
    }
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DOUBLE, NimpEncodeValue(NIMP_TYPE_DOUBLE, "0.1")), "0.1");
    EXPECT_EQ(ErrorCode([] { NimpEncodeValue(NIMP_TYPE_DOUBLE, "one"); }), NIMP_ERR_BAD_VALUE_TEXT);
}

TEST(NimpWire, Timeticks)
{
    EXPECT_EQ(NimpTimeticksToText(0), "0:00:00.00");
    EXPECT_EQ(NimpTimeticksToText(3 * 360000 + 5 * 6000 + 9 * 100 + 7), "3:05:09.07");
    EXPECT_EQ(NimpTimeticksToText(8640001), "1 day 0:00:00.01");
    EXPECT_EQ(NimpTimeticksToText(2 * 8640000 + 360000), "2 days, 1:00:00.00");
    EXPECT_EQ(NimpTimeticksToText(0xFFFFFFFF), "497 days, 2:27:52.95");
    EXPECT_EQ(NimpTextToTimeticks("1 day 0:00:00.01"), 8640001u);
    EXPECT_EQ(NimpTextToTimeticks("0:00:05"), 0u); // seconds count only before a "."
    EXPECT_EQ(NimpTextToTimeticks(""), 0u);
    for (uint32_t v : {0u, 1u, 99u, 100u, 359999u, 8639999u, 8640000u, 8640001u, 17280000u,
                       123456789u, 0xFFFFFFFFu}) {
        EXPECT_EQ(NimpTextToTimeticks(NimpTimeticksToText(v)), v) << v;
    }
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_TIMETICKS, "1 day 0:00:00.01"), Bytes("00 83 D6 01"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_TIMETICKS, Bytes("00 83 D6 01")), "1 day 0:00:00.01");
}

TEST(NimpWire, DateTime)
{
    // 2 Jan 1900, 18:00 is day 3.75.
    const QByteArray bytes = NimpEncodeValue(NIMP_TYPE_DATETIME, "1900/01/02 06:00:00 pm");
    EXPECT_EQ(bytes, NimpEncodeValue(NIMP_TYPE_DOUBLE, "3.75"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DATETIME, bytes), "1900/01/02 06:00:00 pm");
    for (const char* text : {"2024/02/29 12:00:00 am", "2024/02/29 12:30:15 pm",
                             "1999/12/31 11:59:59 pm", "1899/12/29 06:00:00 am"}) {
        EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DATETIME, NimpEncodeValue(NIMP_TYPE_DATETIME, text)),
                  text);
    }
    // Before day 0 the fraction still counts forward from midnight.
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_DATETIME, "1899/12/29 06:00:00 am"),
              NimpEncodeValue(NIMP_TYPE_DOUBLE, "-1.25"));
    for (const char* text : {"", "2024/02/30 01:00:00 am", "yesterday", "2024/01/01 13:00:00 pm"})
        EXPECT_EQ(ErrorCode([&] { NimpEncodeValue(NIMP_TYPE_DATETIME, text); }),
                  NIMP_ERR_BAD_VALUE_TEXT)
            << text;
}

TEST(NimpWire, AddressesAndStrings)
{
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_IPADDRESS, "192.168.0.50"), Bytes("C0 A8 00 32"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_IPADDRESS, Bytes("C0 A8 00 32")), "192.168.0.50");
    for (const char* text : {"10.0.0.300", "", "10.0.0", "a.b.c.d", "1.2.3.4.5"})
        EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_IPADDRESS, text), Bytes("FF FF FF FF")) << text;

    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_MACADDRESS, "00 11 22 aa bb cc dd"),
              Bytes("00 11 22 AA BB CC"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_MACADDRESS, Bytes("00 11 22 AA BB CC")), "001122AABBCC");
    EXPECT_EQ(ErrorCode([] { NimpEncodeValue(NIMP_TYPE_MACADDRESS, "0011223344"); }),
              NIMP_ERR_BAD_VALUE_TEXT);

    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_OCTETSTR, "a 1"), Bytes("A1"));
    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_BITSTR, "a 1 2"), Bytes("0A 12"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_BITSTR, Bytes("0A 01")), "0A01");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_OCTETSTR, {}), "");

    EXPECT_EQ(NimpEncodeValue(NIMP_TYPE_DISPLAYSTR, "AP 1"), QByteArray("AP 1"));
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DISPLAYSTR, QByteArray("line\r\n~ ")), "line\r\n~ ");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DISPLAYSTR, Bytes("41 50 31 00")), "41503100");
    EXPECT_EQ(NimpDecodeValue(NIMP_TYPE_DISPLAYSTR, Bytes("41 7F")), "417F");
}

TEST(NimpWire, TypeCodesAndSizes)
{
    const int sizes[] = {0, 1, 1, 1, 2, 2, 2, 4, 4, 4, 8, 4, 8, 4, 6, 0, 0, 0};
    for (int t = 0; t <= 17; ++t)
        EXPECT_EQ(NimpValueSize(uint8_t(t)), sizes[t]) << t;
    for (uint8_t t : {0, 18, 255}) {
        EXPECT_EQ(ErrorCode([&] { NimpEncodeValue(t, "1"); }), NIMP_ERR_BAD_VALUE_TYPE);
        EXPECT_EQ(ErrorCode([&] { NimpDecodeValue(t, Bytes("01")); }), NIMP_ERR_BAD_VALUE_TYPE);
    }
    // A fixed-size type with the wrong number of bytes is a bad packet.
    EXPECT_EQ(ErrorCode([] { NimpDecodeValue(NIMP_TYPE_INT16, Bytes("01")); }),
              NIMP_ERR_BAD_PACKET);
    EXPECT_EQ(ErrorCode([] { NimpDecodeValue(NIMP_TYPE_MACADDRESS, Bytes("01 02 03 04 05")); }),
              NIMP_ERR_BAD_PACKET);
}

TEST(NimpWire, ReplyAcceptance)
{
    QByteArray records;
    NimpAppendRecord(records, 12, "1.0");
    const QByteArray reply = NimpBuildDatagram(NIMP_CMD_GET, 9, NIMP_STATUS_NOT_DONE,
                                               Bytes("00 11 22 33 44 55"), records, {});
    NimpHeader h;
    ASSERT_TRUE(NimpAcceptDatagram(reply, &h));
    EXPECT_EQ(h.command, NIMP_CMD_GET);
    EXPECT_EQ(h.requestNumber, 9);
    EXPECT_EQ(h.length, 42);
    EXPECT_EQ(h.status, NIMP_STATUS_NOT_DONE);
    EXPECT_EQ(h.mac, Bytes("00 11 22 33 44 55"));
    EXPECT_EQ(uint8_t(reply[10]), 0x12);

    EXPECT_FALSE(NimpAcceptDatagram(reply + '\0', &h)); // length says 42, 43 arrive
    EXPECT_FALSE(NimpAcceptDatagram(reply.left(41), &h));
    EXPECT_FALSE(NimpAcceptDatagram(reply.left(35), &h));
    QByteArray badMagic = reply;
    badMagic[3] = 0x39;
    EXPECT_FALSE(NimpAcceptDatagram(badMagic, &h));

    EXPECT_EQ(NimpStatusResult(0), NIMP_OK);
    EXPECT_EQ(NimpStatusResult(1), NIMP_ERR_PASSWORD);
    EXPECT_EQ(NimpStatusResult(2), NIMP_ERR_NOT_DONE);
    EXPECT_EQ(NimpStatusResult(3), NIMP_ERR_BAD_COMMAND);
    EXPECT_EQ(NimpStatusResult(4), NIMP_ERR_UNKNOWN);
    EXPECT_EQ(NimpStatusResult(15), NIMP_ERR_UNKNOWN);
    EXPECT_EQ(NimpErrorMessage(NIMP_ERR_PASSWORD), "(VxNIMP) Password Error!");
    EXPECT_EQ(NimpErrorMessage(NIMP_ERR_TIMEOUT), "(VxNIMP) Timeout!");
    EXPECT_EQ(NimpErrorMessage(NIMP_ERR_SOCKET_NOT_READY),
              "(VxNIMP) Socket not ready!Please check if the network is ready.");
}

TEST(NimpWire, RecordsNeverReadOutsideTheDatagram)
{
    const QByteArray head(36, '\0');
    QList<NimpRecord> out;
    ASSERT_EQ(NimpParseRecords(head + Bytes("0C 00 05 41 42 05 00 03"), 36, &out), NIMP_OK);
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].id, 12);
    EXPECT_EQ(out[0].value, QByteArray("AB"));
    EXPECT_EQ(out[1].id, 5);
    EXPECT_TRUE(out[1].value.isEmpty());

    for (const char* tail : {"0C 00 02 41", "0C 00 00", "0C 00 06 41 42", "0C 00", "0C 00 03 05"}) {
        out.clear();
        EXPECT_EQ(NimpParseRecords(head + Bytes(tail), 36, &out), NIMP_ERR_BAD_PACKET) << tail;
    }
    // The record before a bad one is kept, and the offset only moves past good records.
    out.clear();
    EXPECT_EQ(NimpParseRecords(head + Bytes("01 00 04 7A 02 FF FF"), 36, &out),
              NIMP_ERR_BAD_PACKET);
    EXPECT_EQ(out.size(), 1);
    int offset = 36;
    NimpRecord r;
    const QByteArray bad = head + Bytes("01 00 09 7A");
    EXPECT_EQ(NimpReadRecord(bad, &offset, &r), NIMP_ERR_BAD_PACKET);
    EXPECT_EQ(offset, 36);
}
