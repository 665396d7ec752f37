#pragma once

#include "config/ConfigDiff.h"

#include <QList>
#include <QStringList>

class ConfigFileTarget;

// What writing a configuration would change on a device, for write-config --changed-only.

// The differences between a device's configuration (a) and the lines the console writes for
// it (b) that the write would make: every setting the written lines give a value that the
// device holds otherwise or not at all, and the access control entries of each list that the
// written lines rewrite (clear it, then add). Settings the write leaves alone are no change:
// those it does not hold, those without a value, and 802.11a keys written as "keep".
QList<ConfigDifference> ChangesOfWrite(const QStringList& deviceLines,
                                       const QStringList& writtenLines);

// The settings of the file loaded into target that the console does not know and so would
// never write, by the name the loader gave them, in file order.
QStringList UnknownSettings(const ConfigFileTarget& target);
