#include "app/DeviceListExport.h"

#include "app/DeviceListModel.h"
#include "app/OperationSummary.h"
#include "common/TextHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The cells a device reports about itself; the others are parsed numbers or the console's own
// texts.
bool fromDevice(int column)
{
    return column == DeviceListModel::ColModelName || column == DeviceListModel::ColFwVersion ||
           column == DeviceListModel::ColDeviceName;
}

// A cell as files and scripts get it: F/W Version is the version the device last reported,
// not the word the window shows while it has not said.
std::optional<QString> exportedCell(const DeviceListModel& devices, const DeviceRow* row, int column)
{
    std::optional<QString> cell = devices.Cell(row, column);
    if (cell && column == DeviceListModel::ColFwVersion)
        return row->reportedVersion;
    return cell;
}

QString csvField(QString text, bool untrusted)
{
    if (untrusted) {
        text = EscapeUntrusted(text);
        if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.front()))
            text.prepend(QLatin1Char('\''));
    }
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
        text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' ')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}

} // namespace

QByteArray DeviceRowsToJson(const DeviceListModel& devices, const QList<DeviceRow*>& rows)
{
    QJsonArray array;
    for (const DeviceRow* row : rows) {
        QJsonObject object;
        for (int c = 0; c < DeviceListModel::ColumnCount; ++c) {
            const std::optional<QString> cell = exportedCell(devices, row, c);
            if (cell)
                object.insert(DeviceListModel::ColumnNames().at(c), *cell);
        }
        if (!row->interfaceName.isEmpty())
            object.insert(QString::fromLatin1(InterfaceJsonKey), row->interfaceName);
        if (!row->conflict.isEmpty())
            object.insert(QStringLiteral("conflict"), row->conflict);
        // Where the device's part of the operation ended, and why it failed.
        if (row->hasOperationCells && row->job.lastCommand != 0)
            object.insert(QStringLiteral("step"), StepKey(row->job.lastCommand));
        if (row->hasOperationCells && devices.State(row) != DeviceState::Ok
            && !row->job.reason.isEmpty())
            object.insert(QStringLiteral("reason"), row->job.reason);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray DeviceRowsToCsv(const DeviceListModel& devices, const QList<DeviceRow*>& rows)
{
    int columns = DeviceListModel::ColDeviceName + 1;
    for (const DeviceRow* row : rows)
        while (columns < DeviceListModel::ColumnCount && devices.Cell(row, columns))
            ++columns;
    QString out;
    const auto endLine = [&out] {
        out.chop(1); // the last separator
        out += QStringLiteral("\r\n");
    };
    for (int c = 0; c < columns; ++c)
        out += csvField(DeviceListModel::ColumnNames().at(c), false) + QLatin1Char(',');
    endLine();
    for (const DeviceRow* row : rows) {
        for (int c = 0; c < columns; ++c)
            out += csvField(exportedCell(devices, row, c).value_or(QString()), fromDevice(c)) +
                   QLatin1Char(',');
        endLine();
    }
    return out.toUtf8();
}
