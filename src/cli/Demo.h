#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

class Ktr4200Fleet;

// A simulated fleet on 127.0.0.1 and a temporary data folder whose system.ini points the
// console at it, with short timings: what `nodewarden --demo` runs on. Nothing is broadcast.
class DemoEnvironment
{
public:
    static constexpr int DefaultDevices = 8;
    static constexpr int MaxDevices = 2000;

    DemoEnvironment();
    ~DemoEnvironment();

    // Starts the fleet and writes the data folder; false with a reason in *error.
    bool Start(int deviceCount, QString* error);
    QString DataFolder() const { return m_dir.path(); }
    QString FirmwareImage() const;
    Ktr4200Fleet& Fleet() { return *m_fleet; }
    // How many of the devices are of the managed model (the others the filter leaves out).
    int ManagedCount() const { return m_managed; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Ktr4200Fleet> m_fleet;
    int m_managed = 0;
};

// The demo without a display: the same operations through the command-line commands, with
// the log printed. Returns the exit status.
int RunHeadlessDemo(DemoEnvironment& demo);
