#pragma once

#include "tftp/VxTFTPServer.h"

#include <QString>

// The "[Tftp] ..." line the log shows for a session event, or an empty text when the
// event is not logged (everything but errors is shown in developer mode only).
QString TftpEventLogLine(const VxTFTPMsg& msg, bool developerMode);
