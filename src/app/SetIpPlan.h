#pragma once

#include "common/VxNetInterface.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

struct DeviceRow;
class DeviceListModel;

// What Set IP would do, device by device in the order of the run, before anything is sent:
// the address each device has and the one it would get, and what deserves a second look.
struct SetIpPlanEntry
{
    DeviceRow* row = nullptr;
    QString from; // the address the device has now
    QString to;   // the address it would get
    // Reasons to look twice, each a sentence: the run wrapped past .254 to reach this
    // address; another listed device or this machine holds it; it lies outside the subnet of
    // the interface the device answered on (the console would lose it).
    QStringList warnings;
};

// The run of addresses from first for rows (one address each, after .254 comes .1), checked
// against the other listed devices and the machine's interfaces.
QList<SetIpPlanEntry> PlanSetIP(const DeviceListModel& devices, const QList<DeviceRow*>& rows,
                                const QString& first, const QList<VxLocalInterface>& local);
// One line per device: MAC, name (escaped), current and new address, then its warnings.
QStringList SetIpPlanLines(const QList<SetIpPlanEntry>& plan);
// Whether any entry holds a warning.
bool SetIpPlanWarns(const QList<SetIpPlanEntry>& plan);

// A netmask given as dotted text, "/24" or "24"; nothing for anything else.
std::optional<QString> ParseNetmaskText(const QString& text);
