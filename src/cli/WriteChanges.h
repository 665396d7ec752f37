#pragma once

#include "config/ConfigDiff.h"

#include <QList>
#include <QStringList>

class ConfigFileTarget;

// What writing a configuration would change on a device, for write-config --changed-only:
// ChangesOfWrite (config/ConfigDiff.h), and the settings a file holds that are never written.

// The settings of the file loaded into target that the console does not know and so would
// never write, by the name the loader gave them, in file order.
QStringList UnknownSettings(const ConfigFileTarget& target);
