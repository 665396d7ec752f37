#pragma once

#include <QString>

class ConfigTarget;
class DeviceFiles;
class DeviceListModel;
class OperationUi;
class VxError;
struct AppSettings;
struct DeviceRow;

// What the command queue needs of the console around it: the settings, the device list, the
// log, the file serving, whoever shows questions and errors, and the configuration that
// commands load and verify through.
class QueueHost
{
public:
    virtual ~QueueHost() = default;

    virtual const AppSettings& Settings() const = 0;
    virtual DeviceListModel& Devices() = 0;
    virtual DeviceFiles& Files() = 0;
    virtual void LogAction(const QString& text) = 0;
    virtual OperationUi* Ui() const = 0;
    virtual ConfigTarget* Config() const = 0;
    // A Get Version reply named the firmware version the device runs.
    virtual void NoteReportedVersion(DeviceRow* row, const QString& version) = 0;
    // An error that arose outside any caller that could take it (a reply handler).
    virtual void ReportError(const VxError& error) = 0;
};
