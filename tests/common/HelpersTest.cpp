#include "common/Md5.h"
#include "common/Sha256.h"
#include "common/TextHelpers.h"
#include "common/VxBinaryString.h"
#include "common/Wait.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <gtest/gtest.h>

namespace {

TEST(BinaryStringTest, HexBothWays)
{
    EXPECT_EQ(VxBinaryString::fromHex("abc").bytes(), QByteArray("\xAB", 1));
    EXPECT_EQ(VxBinaryString::fromHex("0a1B").bytes(), VxBinaryString::fromHex("0A1b").bytes());
    EXPECT_EQ(VxBinaryString::fromHex("").length(), 0);
    EXPECT_EQ(VxBinaryString::fromHex("F").length(), 0);
    const QByteArray all = [] {
        QByteArray b;
        for (int i = 0; i < 256; ++i)
            b.append(char(i));
        return b;
    }();
    const QString hex = ToHex(VxBinaryString(all));
    EXPECT_EQ(hex.size(), 512);
    EXPECT_TRUE(hex.startsWith("000102"));
    EXPECT_TRUE(hex.endsWith("FDFEFF"));
    EXPECT_EQ(VxBinaryString::fromHex(hex).bytes(), all);
    EXPECT_EQ(VxBinaryString::fromHex(hex.toLower()).bytes(), all);
    EXPECT_EQ(ToHex(VxBinaryString::fromBytes("\x01\x00\xff", 3)), "0100FF");
}

TEST(Sha256Test, AgreesWithQtsOnAKnownVectorAndAnImage)
{
    EXPECT_EQ(Sha256Hex(QByteArray("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const QByteArray image = QByteArray("FW_VERSION=2.00.01u\n") + QByteArray(300000, '\xA5');
    EXPECT_EQ(Sha256Hex(image), QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
}

TEST(Md5Test, Rfc1321Vectors)
{
    EXPECT_EQ(ToHex(Md5(QByteArray("abc"))), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(ToHex(Md5(QByteArray())), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(ToHex(Md5(QByteArray("12345678901234567890123456789012345678901234567890123456789012"
                                   "345678901234567890"))),
              "57EDF4A22BE3C955AC49DA2E2107B67A");
    uint8_t out[16];
    Md5(out, "abc", 3);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(out), 16), Md5(QByteArray("abc")));
}

TEST(ReplaceAllTest, ReplacesOnlyWhatStoodInTheTemplate)
{
    EXPECT_EQ(ReplaceAll("[LEN] of [LEN]", "[LEN]", "[LEN][LEN]"), "[LEN][LEN] of [LEN][LEN]");
    EXPECT_EQ(ReplaceAll("between [MIN] and [MAX]!", "[MIN]", "1"), "between 1 and [MAX]!");
    EXPECT_EQ(ReplaceAll("no placeholder", "[MIN]", "1"), "no placeholder");
    EXPECT_EQ(ReplaceAll("[X][X]", "[X]", ""), "");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba"); // left to right, no overlap
    EXPECT_EQ(ReplaceAll("text", "", "x"), "text");
}

TEST(WaitTest, DeliversTimerAndSocketEventsDuringTheWait)
{
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress::LocalHost, 0));
    int datagrams = 0;
    QObject::connect(&receiver, &QUdpSocket::readyRead, [&] {
        while (receiver.hasPendingDatagrams()) {
            receiver.receiveDatagram();
            ++datagrams;
        }
    });
    bool timerFired = false;
    QTimer::singleShot(50, [&] { timerFired = true; });
    QUdpSocket sender;
    QTimer::singleShot(
        80, [&] { sender.writeDatagram("ping", QHostAddress::LocalHost, receiver.localPort()); });

    const int64_t start = TickCount();
    WaitMilliseconds(200);
    const int64_t elapsed = TickCount() - start;

    EXPECT_TRUE(timerFired);
    EXPECT_EQ(datagrams, 1);
    EXPECT_GE(elapsed, 195); // the wait does not end early because events arrived
}

TEST(WaitTest, UnitsAndNonPositiveWaits)
{
    int64_t start = TickCount();
    Wait(5); // centiseconds
    EXPECT_GE(TickCount() - start, 48);
    // Nothing to wait for: these return (a hang would end the test by its time-out).
    Wait(0);
    Wait(-5);
    WaitSeconds(0);
    EXPECT_GT(TickCount(), 0); // 0 means "no deadline" to the components
}

} // namespace

namespace {

TEST(EscapeUntrustedTest, NothingThatDoesNotPrintGetsThrough)
{
    // A terminal escape that clears the screen and a forged log line.
    EXPECT_EQ(EscapeUntrusted(QStringLiteral("fw\x1B[2J\x1B[HALL OK\r\n12:00 00'00 x")),
              QStringLiteral("fw\\x1B[2J\\x1B[HALL OK\\r\\n12:00 00'00 x"));
    EXPECT_EQ(EscapeUntrusted(QString::fromUtf8("a\tb\x7F\xC2\x85")), QStringLiteral("a\\tb\\x7F\\x85"));
    // A bidirectional override and a line separator; a lone surrogate.
    EXPECT_EQ(EscapeUntrusted(QString::fromUtf8("x\xE2\x80\xAEy\xE2\x80\xA8")), QStringLiteral("x\\u202Ey\\u2028"));
    EXPECT_EQ(EscapeUntrusted(QString(QChar(0xD800))), QStringLiteral("\\uD800"));
    // Printable text stays as it is, outside Latin-1 and outside the basic plane too.
    const QString plain = QString::fromUtf8("Lobby AP-3 \\ Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB6");
    EXPECT_EQ(EscapeUntrusted(plain), plain);
}

} // namespace
