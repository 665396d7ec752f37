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

// Whether a command is a step of a device (a request, a transfer, a check), not one that only
// sets up the list.
bool IsDeviceStep(uint8_t commandType);
// The step as the progress display names it: "Devices fetch the image".
QString StepTitle(uint8_t commandType);

// How far a running list is: its device steps done of all (steps x devices), and the step the
// devices are in now with the count through it (the commands of that kind up to the next wait).
struct OperationProgress
{
    uint8_t stepType = 0; // 0 before the first device step
    int stepDone = 0;
    int stepTotal = 0;
    int done = 0;
    int total = 0;
};
// "Devices fetch the image: 31 of 50", then the estimated time left once a step is done
// ("; about 1 min 20 s left"); empty before the first step.
QString ProgressStepText(const OperationProgress& progress, qint64 elapsedMs);
