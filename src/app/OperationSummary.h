#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

class DeviceListModel;
struct DeviceRow;
enum class DeviceMilestone : uint8_t;

// The line that ends every operation in the log: the caption, how many rows ended "OK", how
// many did not, grouped by their Status, the step they ended in and why, and how long it took:
// "Upgrade Firmware: 48 OK, 2 failed: 2 -Time Out- fetching the image (FWDownloadTime 60 s +
// TimingTolerance 5 s) in 3 min 12 s". Aborted rows are grouped by what they had passed.
QString OperationSummaryLine(const QString& caption, const DeviceListModel& devices,
                             const QList<DeviceRow*>& rows, qint64 elapsedMs);
// One line per row that did not end "OK": its MAC, Status, step and reason.
QStringList FailedDeviceLines(const DeviceListModel& devices, const QList<DeviceRow*>& rows);

// A duration rounded to whole seconds: "12 s", "3 min 12 s", "1 h 0 min 5 s".
QString DurationText(qint64 elapsedMs);

// Where a device ended, for scripts ("firmware-download") and for people ("fetching the
// image"), from the kind of the last command it was given (0: none yet).
QString StepKey(uint8_t commandType);
QString StepPhrase(uint8_t commandType);
// What a device aborted at this point had passed, and what that leaves it running.
QString MilestonePhrase(DeviceMilestone milestone);
