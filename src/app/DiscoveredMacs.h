#pragma once

#include <QString>
#include <QStringList>

class DeviceListModel;

// The MACs of the last Discover, one per line, in the data folder: shell completion offers them
// after --mac without asking the network. The window and the command line both leave it.
inline constexpr const char* DiscoveredMacsFileName = "discovered-macs.txt";

// Replaces the file with the MAC of every listed device (twelve upper-case hex digits; a cell
// that is not one is left out). When the file cannot be written the old one is removed, so that
// no stale list is offered; returns false then, with the reason in *error when given.
bool SaveDiscoveredMacs(const QString& dataFolder, const DeviceListModel& devices,
                        QString* error = nullptr);
