#pragma once

#include <QList>
#include <QString>

class DeviceListModel;
struct DeviceRow;

// The line that ends every operation in the log: the caption, how many rows ended "OK", how
// many did not (each with its MAC and final Status), and how long it took:
// "Upgrade Firmware: 48 OK, 2 failed (00055D000007 -Time Out-, 00055D00000A Password Error!) in 3
// min 12 s". Without failures the parenthesis is left out.
QString OperationSummaryLine(const QString& caption, const DeviceListModel& devices,
                             const QList<DeviceRow*>& rows, qint64 elapsedMs);

// A duration rounded to whole seconds: "12 s", "3 min 12 s", "1 h 0 min 5 s".
QString DurationText(qint64 elapsedMs);
