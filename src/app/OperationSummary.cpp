#include "app/OperationSummary.h"

#include "app/Command.h"
#include "app/DeviceListModel.h"
#include "common/TextHelpers.h"

#include <QMap>
#include <QStringList>

namespace {

struct StepWords
{
    uint8_t type;
    const char* key;
    const char* phrase;
    const char* title;
};
constexpr StepWords Steps[] = {
    {cmdLoadConfig, "load-config", "loading the configuration", "The configuration is loaded"},
    {cmdGetVersion, "get-version", "asking for its version", "Devices report their version"},
    {cmdSetIP, "set-ip", "setting the address", "Devices get their address"},
    {cmdWriteConfig, "write-config", "fetching the configuration",
     "Devices fetch the configuration"},
    {cmdFirmwareDownload, "firmware-download", "fetching the image", "Devices fetch the image"},
    {cmdReadConfig, "read-config", "sending its configuration", "Devices send their configuration"},
    {cmdVerifyConfig, "verify-config", "verifying the configuration",
     "The configurations are compared"},
    {cmdConfigFlash, "config-flash", "writing the configuration to flash",
     "Devices write the configuration to flash"},
    {cmdFirmwareFlash, "firmware-flash", "flashing the image", "Devices flash the image"},
    {cmdReset, "reset", "resetting", "Devices reset"},
    {cmdFactoryReset, "factory-reset", "factory resetting", "Devices are factory reset"},
};

// What an aborted device had passed: before its first change, the step it was in.
QString abortedText(const DeviceRow* row)
{
    // A device the list stopped before its turn (a wave that was not started) says why.
    if (row->job.lastCommand == 0 && !row->job.reason.isEmpty())
        return row->job.reason;
    if (row->job.milestone == DeviceMilestone::None)
        return QStringLiteral("aborted while ") + StepPhrase(row->job.lastCommand)
               + QStringLiteral(", before they confirmed any change");
    return QStringLiteral("aborted ") + MilestonePhrase(row->job.milestone);
}

QString failureGroup(const DeviceListModel& devices, const DeviceRow* row)
{
    const QString status = devices.GetStatus(row);
    if (row->state == DeviceState::Aborted)
        return abortedText(row);
    QString text = status + QLatin1Char(' ') + StepPhrase(row->job.lastCommand);
    if (!row->job.bound.isEmpty())
        text += QStringLiteral(" (") + row->job.bound + QLatin1Char(')');
    else if (!row->job.reason.isEmpty() && row->job.reason != status)
        text += QStringLiteral(" (") + row->job.reason + QLatin1Char(')');
    return text;
}

} // namespace

QString StepKey(uint8_t commandType)
{
    for (const StepWords& s : Steps)
        if (s.type == commandType)
            return QString::fromLatin1(s.key);
    return QStringLiteral("start");
}

QString StepPhrase(uint8_t commandType)
{
    for (const StepWords& s : Steps)
        if (s.type == commandType)
            return QString::fromLatin1(s.phrase);
    return QStringLiteral("before its first step");
}

QString MilestonePhrase(DeviceMilestone milestone)
{
    switch (milestone) {
    case DeviceMilestone::AddressSet:
        return QStringLiteral("after their address was set");
    case DeviceMilestone::ConfigFlashed:
        return QStringLiteral("after the configuration was written to flash");
    case DeviceMilestone::ImageFlashed:
        return QStringLiteral("after the image was flashed, before the factory reset: they run "
                              "the new image on their old configuration");
    case DeviceMilestone::FactoryReset:
        return QStringLiteral("after the factory reset, before their configuration was written "
                              "back: they run on factory settings");
    case DeviceMilestone::ConfigRestored:
        return QStringLiteral("after their configuration was written back");
    case DeviceMilestone::None:
        break;
    }
    return QStringLiteral("before they confirmed any change");
}

QString DurationText(qint64 elapsedMs)
{
    const qint64 seconds = (std::max<qint64>(0, elapsedMs) + 500) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min %3 s")
        .arg(seconds / 3600)
        .arg(seconds % 3600 / 60)
        .arg(seconds % 60);
}

QString OperationSummaryLine(const QString& caption, const DeviceListModel& devices,
                             const QList<DeviceRow*>& rows, qint64 elapsedMs)
{
    int ok = 0;
    int failed = 0;
    // Groups in the order their first row comes.
    QStringList order;
    QMap<QString, int> counts;
    for (const DeviceRow* row : rows) {
        if (devices.State(row) == DeviceState::Ok) {
            ++ok;
            continue;
        }
        ++failed;
        const QString group = failureGroup(devices, row);
        if (!counts.contains(group))
            order.append(group);
        ++counts[group];
    }
    QString line = QStringLiteral("%1: %2 OK, %3 failed").arg(caption).arg(ok).arg(failed);
    if (failed > 0) {
        QStringList groups;
        for (const QString& g : std::as_const(order))
            groups.append(QString::number(counts.value(g)) + QLatin1Char(' ') + g);
        line += QStringLiteral(": ") + groups.join(QStringLiteral("; "));
    }
    return line + QStringLiteral(" in ") + DurationText(elapsedMs);
}

QStringList FailedDeviceLines(const DeviceListModel& devices, const QList<DeviceRow*>& rows)
{
    QStringList lines;
    for (const DeviceRow* row : rows) {
        if (devices.State(row) == DeviceState::Ok)
            continue;
        QString line = EscapeUntrusted(row->macText) + QLatin1Char(' ')
                       + (row->state == DeviceState::Aborted
                              ? abortedText(row)
                              : devices.GetStatus(row) + QLatin1Char(' ')
                                    + StepPhrase(row->job.lastCommand));
        if (!row->job.reason.isEmpty() && row->state != DeviceState::Aborted)
            line += QStringLiteral(": ") + row->job.reason;
        lines.append(line);
    }
    return lines;
}

bool IsDeviceStep(uint8_t commandType)
{
    for (const StepWords& s : Steps)
        if (s.type == commandType)
            return true;
    return false;
}

QString StepTitle(uint8_t commandType)
{
    for (const StepWords& s : Steps)
        if (s.type == commandType)
            return QString::fromLatin1(s.title);
    return QString();
}

QString ProgressStepText(const OperationProgress& progress, qint64 elapsedMs)
{
    if (progress.stepType == 0)
        return QString();
    QString text = QStringLiteral("%1: %2 of %3")
                       .arg(StepTitle(progress.stepType))
                       .arg(progress.stepDone)
                       .arg(progress.stepTotal);
    if (progress.done > 0 && progress.total > progress.done)
        text += QStringLiteral("; about %1 left")
                    .arg(DurationText(elapsedMs * (progress.total - progress.done) / progress.done));
    return text;
}
