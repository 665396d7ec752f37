#pragma once

#include "GuiTestSupport.h"
#include "LoopbackFleet.h"
#include "app/AppCore.h"
#include "app/ui/TMainForm.h"
#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <memory>

// A data folder whose system.ini points every socket at a simulated fleet on 127.0.0.1, with
// short timings, and the main window over it.
class WindowTestBed
{
public:
    explicit WindowTestBed(Ktr4200FleetOptions options = {}, const QMap<QString, QString>& ini = {})
        : loopback(std::move(options)), started(loopback.started), fleet(std::move(loopback.fleet))
    {
        LoopbackFleet::WriteSystemIni(dir.path(), loopback.SystemKeys({}, ini));
        // The window's remembered size and columns go to this bed, not to the user's settings.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           dir.filePath(QStringLiteral("user-settings")));
        window = std::make_unique<TMainForm>(dir.path());
        // One wave of every device, as a window without the plan's dialog runs it.
        window->chooseUpgradePlan = [](int) { return std::optional<UpgradeWavePlan>(UpgradeWavePlan()); };
    }

    ~WindowTestBed()
    {
        window.reset();
        fleet->Stop();
    }

    QString iniPath() const { return QDir(dir.path()).filePath(QStringLiteral("system.ini")); }
    AppCore& core() { return window->Core(); }
    DeviceListModel& devices() { return window->Core().Devices(); }

    QTemporaryDir dir;
    LoopbackFleet loopback;
    bool started = false;
    std::unique_ptr<Ktr4200Fleet> fleet;
    std::unique_ptr<TMainForm> window;
};
