#include "tftp/TftpLogLine.h"

#include "common/TextHelpers.h"

namespace {

// "odd.bin to 192.168.1.20:1234" for a read, "... from ..." for a write.
QString transfer(const VxTFTPMsg& msg)
{
    return EscapeUntrusted(msg.fileName) +
           (msg.operation == TFTP_OP_READ ? QStringLiteral(" to ") : QStringLiteral(" from ")) +
           msg.peerAddress + QLatin1Char(':') + QString::number(msg.peerPort);
}

} // namespace

QString TftpEventLogLine(const VxTFTPMsg& msg, bool developerMode)
{
    // Called for every packet of every transfer: nothing is built for a line not written.
    if (msg.status >= 0 && !developerMode)
        return QString();
    const QString tag = QStringLiteral("[Tftp] ");
    const bool peerRead = msg.operation == TFTP_OP_READ;
    const QString fileName = EscapeUntrusted(msg.fileName);
    if (msg.status < 0) {
        return tag + QStringLiteral("Error:") + msg.message + QLatin1Char(' ') + msg.localAddress +
               QLatin1Char('/') + fileName +
               (peerRead ? QStringLiteral(" Download to ") : QStringLiteral(" Upload from ")) +
               msg.peerAddress;
    }
    if (!developerMode)
        return QString();
    switch (msg.status) {
    case TFTP_DISCONNECTED:
        return tag + msg.peerAddress + QStringLiteral(" Disconnected.");
    case TFTP_CONNECTED:
        return tag + msg.peerAddress + QStringLiteral(" Connected.");
    case TFTP_TRANSFERRING:
        return tag + QStringLiteral("Retry=") + QString::number(msg.transmissions) +
               QLatin1Char(',') + QString::number(msg.bytes) + QStringLiteral(" bytes.");
    case TFTP_SUCCESS:
        return tag + msg.localAddress + QLatin1Char('/') + fileName +
               (peerRead ? QStringLiteral(" put to ") : QStringLiteral(" get from ")) +
               QStringLiteral("AP[") + msg.peerAddress + QStringLiteral("](") +
               QString::number(msg.bytes) + QStringLiteral(" bytes transferred).");
    default:
        return QString();
    }
}

QString TftpTransferStartLine(const VxTFTPMsg& msg)
{
    // One pass: a "%2" inside the peer's file name is not replaced.
    return QStringLiteral("[Tftp] Start: %1 (blksize %2, windowsize %3)")
        .arg(transfer(msg), QString::number(msg.agreedBlockSize), QString::number(msg.windowSize));
}

QString TftpTransferEndLine(const VxTFTPMsg& msg, qint64 elapsedMs)
{
    const QString figures = QStringLiteral("%1 bytes in %2 s, %3 blocks resent")
                                .arg(msg.bytes)
                                .arg(double(elapsedMs) / 1000.0, 0, 'f', 3)
                                .arg(msg.blocksResent);
    if (msg.status == TFTP_SUCCESS)
        return QStringLiteral("[Tftp] Done: %1, %2").arg(transfer(msg), figures);
    return QStringLiteral("[Tftp] Failed: %1, %2 %3").arg(transfer(msg), msg.message, figures);
}
