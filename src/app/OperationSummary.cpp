#include "app/OperationSummary.h"

#include "app/DeviceListModel.h"

#include <QStringList>

namespace {
const QString StatusOk = QStringLiteral("OK");
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
    QStringList failures;
    for (const DeviceRow* row : rows) {
        const QString status = devices.GetStatus(row);
        if (status == StatusOk)
            ++ok;
        else
            failures.append(devices.GetField(row, QStringLiteral("Mac Address")) +
                            QLatin1Char(' ') + status);
    }
    QString line = QStringLiteral("%1: %2 OK, %3 failed").arg(caption).arg(ok).arg(failures.size());
    if (!failures.isEmpty())
        line += QStringLiteral(" (") + failures.join(QStringLiteral(", ")) + QLatin1Char(')');
    return line + QStringLiteral(" in ") + DurationText(elapsedMs);
}
