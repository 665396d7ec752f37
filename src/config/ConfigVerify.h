#pragma once

#include <QString>
#include <functional>

// Receives the log lines of the configuration code; the application puts them into its
// message log.
using ConfigLogSink = std::function<void(const QString& line)>;

// Logged when either file cannot be read or the comparison cannot be completed.
inline const QString kVerifyLoadFailText = QStringLiteral("Verify file load fail.");

// Checks that file B (the configuration read back from a device) confirms file A (the file
// written for it). 0 when it does, -1 when not or when a file cannot be read. The reason
// goes to log only when developerMode is on. Neither file is changed.
int VerifyConfigFiles(const QString& fileA, const QString& fileB, const ConfigLogSink& log = {},
                      bool developerMode = false);
