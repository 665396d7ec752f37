#pragma once

#include <QList>
#include <QString>
#include <optional>

class ConfigTarget;

// A device as the device list shows it (untrusted: whoever shows it escapes it).
struct ConfigDevice
{
    QString name;
    QString mac;
    QString address;
};

// What a configuration window needs of the console that opens it: where its files are, the
// log, and the one device it reads and edits (the first selected one).
class ConfigHost
{
public:
    virtual ~ConfigHost() = default;

    virtual QString ConfigDataFolder() const = 0;
    virtual void ConfigLog(const QString& line) = 0;
    virtual bool ConfigDeveloperMode() const = 0;
    // The F/W Version the list shows for the first selected device; none without one.
    virtual std::optional<QString> SelectedDeviceFirmware() const = 0;
    // The selected devices, in the order a write goes to them: the first is the one read.
    virtual QList<ConfigDevice> SelectedDevices() const = 0;
    // Reads the first selected device's configuration into target (its Load runs with the
    // file the device sent). False, with nothing sent, when no device is selected.
    virtual bool ReadSelectedDevice(ConfigTarget& target) = 0;
    // The window was closed without Apply: the operation it started, if any, ends.
    virtual void CancelOperation() = 0;
};
