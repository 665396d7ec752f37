#include "tftp/TftpLogLine.h"

#include "common/LogFormat.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

VxTFTPMsg Event(int status, int operation)
{
    VxTFTPMsg m;
    m.status = status;
    m.message = VxTFTPStatusMessage(status);
    m.operation = operation;
    m.peerAddress = QStringLiteral("192.168.1.20");
    m.localAddress = QStringLiteral("192.168.1.2");
    m.fileName = QStringLiteral("00A0C5112233.WR");
    m.bytes = 1700;
    m.transmissions = 2;
    return m;
}

TEST(TftpLogLine, EachStatusHasItsLineAndOnlyErrorsShowOutsideDeveloperMode)
{
    EXPECT_EQ(TftpEventLogLine(Event(1, 1), true),
              QStringLiteral("[Tftp] 192.168.1.20 Connected."));
    EXPECT_EQ(TftpEventLogLine(Event(0, 1), true),
              QStringLiteral("[Tftp] 192.168.1.20 Disconnected."));
    EXPECT_EQ(TftpEventLogLine(Event(2, 1), true), QStringLiteral("[Tftp] Retry=2,1700 bytes."));
    EXPECT_EQ(
        TftpEventLogLine(Event(3, 1), true),
        QStringLiteral(
            "[Tftp] 192.168.1.2/00A0C5112233.WR put to AP[192.168.1.20](1700 bytes transferred)."));
    EXPECT_EQ(TftpEventLogLine(Event(3, 2), true),
              QStringLiteral("[Tftp] 192.168.1.2/00A0C5112233.WR get from AP[192.168.1.20](1700 "
                             "bytes transferred)."));
    EXPECT_EQ(
        TftpEventLogLine(Event(-1113, 1), false),
        QStringLiteral(
            "[Tftp] Error:(VxTFTP) Timeout! 192.168.1.2/00A0C5112233.WR Download to 192.168.1.20"));
    EXPECT_EQ(TftpEventLogLine(Event(-1103, 2), false),
              QStringLiteral("[Tftp] Error:(VxTFTP) Access violation! 192.168.1.2/00A0C5112233.WR "
                             "Upload from 192.168.1.20"));
    for (int status : {0, 1, 2, 3})
        EXPECT_TRUE(TftpEventLogLine(Event(status, 1), false).isEmpty()) << status;
}

TEST(TftpLogLine, ARequestedNameComesOutEscapedInEveryLine)
{
    VxTFTPMsg m = Event(-1115, 1);
    m.message = VxTFTPStatusMessage(-1115);
    m.fileName = QStringLiteral("a\x1b[2J\r\n12:00 00'00 [Tftp] forged %2");
    m.peerPort = 1234;
    const QString escaped = QStringLiteral("a\\x1B[2J\\r\\n12:00 00'00 [Tftp] forged %2");
    EXPECT_EQ(TftpEventLogLine(m, false),
              QStringLiteral("[Tftp] Error:(VxTFTP) Request refused! 192.168.1.2/") + escaped +
                  QStringLiteral(" Download to 192.168.1.20"));
    m.status = TFTP_SUCCESS;
    EXPECT_TRUE(TftpEventLogLine(m, true).contains(escaped));
    m.status = TFTP_CONNECTED;
    EXPECT_EQ(TftpTransferStartLine(m),
              QStringLiteral("[Tftp] Start: ") + escaped +
                  QStringLiteral(" to 192.168.1.20:1234 (blksize 512, windowsize 1)"));
    m.status = TFTP_TIMEOUT;
    m.message = VxTFTPStatusMessage(TFTP_TIMEOUT);
    m.blocksResent = 4;
    EXPECT_EQ(TftpTransferEndLine(m, 15020),
              QStringLiteral("[Tftp] Failed: ") + escaped +
                  QStringLiteral(" to 192.168.1.20:1234, (VxTFTP) Timeout! 1700 bytes in 15.020 s, "
                                 "4 blocks resent"));
}

TEST(LogFormat, PrefixShowsHundredthsOrMillisecondsInDeveloperMode)
{
    EXPECT_EQ(LogTimePrefix(QTime(14, 5, 9, 47), false), QStringLiteral("14:05 09'04 "));
    EXPECT_EQ(LogTimePrefix(QTime(14, 5, 9, 47), true), QStringLiteral("14:05 09'047 "));
    EXPECT_EQ(LogTimePrefix(QTime(0, 0, 0, 999), false), QStringLiteral("00:00 00'99 "));
    EXPECT_EQ(LogTimePrefix(QTime(23, 59, 59, 5), true), QStringLiteral("23:59 59'005 "));
    const QRegularExpression line(QStringLiteral("^\\d\\d:\\d\\d \\d\\d'\\d\\d\\d text$"));
    EXPECT_TRUE(line.match(LogLine(QStringLiteral("text"), true)).hasMatch());
}

} // namespace
