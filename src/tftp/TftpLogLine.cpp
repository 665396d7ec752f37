#include "tftp/TftpLogLine.h"

QString TftpEventLogLine(const VxTFTPMsg& msg, bool developerMode)
{
    const QString tag = QStringLiteral("[Tftp] ");
    const bool peerRead = msg.operation == TFTP_OP_READ;
    if (msg.status < 0) {
        return tag + QStringLiteral("Error:") + msg.message + QLatin1Char(' ') + msg.localAddress
               + QLatin1Char('/') + msg.fileName
               + (peerRead ? QStringLiteral(" Download to ") : QStringLiteral(" Upload from "))
               + msg.peerAddress;
    }
    if (!developerMode)
        return QString();
    switch (msg.status) {
    case TFTP_DISCONNECTED:
        return tag + msg.peerAddress + QStringLiteral(" Disconnected.");
    case TFTP_CONNECTED:
        return tag + msg.peerAddress + QStringLiteral(" Connected.");
    case TFTP_TRANSFERRING:
        return tag + QStringLiteral("Retry=") + QString::number(msg.transmissions) + QLatin1Char(',')
               + QString::number(msg.bytes) + QStringLiteral(" bytes.");
    case TFTP_SUCCESS:
        return tag + msg.localAddress + QLatin1Char('/') + msg.fileName
               + (peerRead ? QStringLiteral(" put to ") : QStringLiteral(" get from ")) + QStringLiteral("AP[")
               + msg.peerAddress + QStringLiteral("](") + QString::number(msg.bytes)
               + QStringLiteral(" bytes transferred).");
    default:
        return QString();
    }
}
