#pragma once

#include <QByteArray>
#include <QList>

class DeviceListModel;

inline constexpr const char* InterfaceJsonKey = "Interface";
struct DeviceRow;

// The device list as text for other programs: the window's Export List and the command
// line's discover and report output share these.

// A JSON array with one object per row: the column names as keys, the cells as they are; a
// cell the row does not have yet is left out. A row whose device answered Discover on a chosen
// interface also has the interface's name under InterfaceJsonKey.
QByteArray DeviceRowsToJson(const DeviceListModel& devices, const QList<DeviceRow*>& rows);

// CSV (RFC 4180, CR LF line ends, UTF-8): a header line of the column names, then one line
// per row. The columns run up to the last one that any row has, so a freshly discovered list
// has no Action, Status and Retry columns. The cells that came from the devices are made safe
// to open: characters that do not print are written as escapes (as in the log), and a cell
// beginning with "=", "+", "-" or "@" gets an apostrophe in front, so that a spreadsheet shows
// it as text instead of running it as a formula.
QByteArray DeviceRowsToCsv(const DeviceListModel& devices, const QList<DeviceRow*>& rows);
