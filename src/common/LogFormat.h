#pragma once

#include <QString>
#include <QTime>

// Every line of the action message log starts with the local time. Normal mode shows
// hundredths of a second ("14:05 09'04 "), developer mode milliseconds ("14:05 09'047 ").
QString LogTimePrefix(const QTime& time, bool developerMode);

// The prefix of the current local time followed by text.
QString LogLine(const QString& text, bool developerMode);
