#include "cli/Screenshots.h"

#include "app/AppCore.h"
#include "app/ui/DeviceListProxy.h"
#include "app/ui/TMainForm.h"
#include "app/ui/TSetIPForm.h"
#include "app/ui/TSystemForm.h"
#include "cli/Demo.h"
#include "common/Wait.h"
#include "common/ui/VxIPAddressPanel.h"
#include "config/ui/TConfig_KTR_4200.h"
#include "sim/Ktr4200Fleet.h"

#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeView>
#include <cstdio>

namespace {

bool save(QWidget* w, const QString& folder, const char* name)
{
    WaitMilliseconds(100); // let layouts and pending paints settle
    const QString path = QDir(folder).filePath(QString::fromLatin1(name));
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int RunScreenshots(DemoEnvironment& demo, const QString& folder)
{
    QDir().mkpath(folder);
    // The pictures show the window as it starts, not as this user last left it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, demo.DataFolder());
    const QStringList names = {"Lobby",  "Lobby East", "Roof North", "Roof South",
                               "Cellar", "Roof West",  "Hall",       "Roof Annex"};
    for (int i = 0; i < demo.Fleet().DeviceCount() && i < names.size(); ++i)
        demo.Fleet().Device(i).config.SetValue(QStringLiteral("device_name"), names.at(i));
    TMainForm window(demo.DataFolder());
    if (window.InitFailed())
        return 1;
    window.resize(860, 560);
    window.show();
    window.TB_DiscoverClick();

    // Give every listed device a new address, so the Action and Status columns show an outcome.
    DeviceListModel& devices = window.Core().Devices();
    devices.SelectAll();
    window.Core().SetIP(QStringLiteral("10.0.0.20"), QStringLiteral("255.255.255.0"));
    devices.ClearSelection();
    for (int i = 1; i < devices.Count() && i < 4; ++i)
        devices.SetSelected(devices.Row(i), true);
    window.ActionMessages()->scrollToBottom();
    bool ok = save(&window, folder, "main-window.png");

    // The table filtered and sorted by address, with two of the rows shown selected.
    window.FilterEdit()->setText(QStringLiteral("roof"));
    window.DeviceListView()->sortByColumn(DeviceListModel::ColIpAddress, Qt::DescendingOrder);
    devices.ClearSelection();
    const QList<DeviceRow*> shown = window.ShownRows();
    for (int i = 0; i < shown.size() && i < 2; ++i)
        devices.SetSelected(shown.at(i), true);
    window.statusBar()->clearMessage();
    ok = save(&window, folder, "device-table-filter.png") && ok;
    window.FilterEdit()->clear();
    window.DeviceListView()->sortByColumn(-1, Qt::AscendingOrder);

    TSetIPForm setIp(&window);
    setIp.SetMultipleMode();
    SetIPAddressPanelText(setIp.PanelIPBegin(), QStringLiteral("10.0.0.20"));
    SetIPAddressPanelText(setIp.PanelMask(), QStringLiteral("255.255.255.0"));
    setIp.show();
    ok = save(&setIp, folder, "set-ip-dialog.png") && ok;
    setIp.hide();

    TSystemForm system(window.Core(), window.Core().Settings().module, &window);
    system.show();
    ok = save(&system, folder, "system-dialog.png") && ok;
    system.hide();

    // The configuration window with the first device's configuration read into it, page by page.
    if (TConfig_KTR_4200* config = window.ConfigForm()) {
        devices.ClearSelection();
        devices.SetSelected(devices.Row(0), true);
        config->SetSingleDeviceMode();
        config->RefreshFromDevice();
        config->show();
        const std::pair<QWidget*, const char*> pages[] = {{config->TabComm, "config-general.png"},
                                                          {config->Tab11a, "config-11a.png"},
                                                          {config->Tab11b, "config-11b.png"}};
        for (const auto& [page, name] : pages) {
            config->PageConfig->setCurrentWidget(page);
            ok = save(config, folder, name) && ok;
        }
        config->hide();
    }
    window.close(); // the program's end: the engine's last waits
    return ok ? 0 : 1;
}
