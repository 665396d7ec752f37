#pragma once

#include "tftp/VxTFTPServer.h"

#include <QString>

// The "[Tftp] ..." line the log shows for a session event, or an empty text when the
// event is not logged (everything but errors is shown in developer mode only). The file
// name came from the network and is shown escaped.
QString TftpEventLogLine(const VxTFTPMsg& msg, bool developerMode);

// The stand-alone server's line when a transfer starts (status 1).
QString TftpTransferStartLine(const VxTFTPMsg& msg);
// Its line when the transfer ends (status 3 or negative), elapsedMs after the start.
QString TftpTransferEndLine(const VxTFTPMsg& msg, qint64 elapsedMs);
