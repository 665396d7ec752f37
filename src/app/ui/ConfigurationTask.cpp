#include "app/ui/ConfigurationTask.h"

#include "app/AppCore.h"
#include "app/BatchOperations.h"
#include "app/Command.h"
#include "app/DeviceListModel.h"
#include "config/ui/TConfig_KTR_4200.h"

#include <QDir>
#include <QFileInfo>
#include <QIcon>

namespace {

void SetIcon(AppCore& core, TConfig_Form& window, const char* relativePath)
{
    const QString path = QDir(core.DataFolder()).filePath(QString::fromLatin1(relativePath));
    // Without the picture the window keeps the icon it has.
    if (QFileInfo::exists(path))
        window.setWindowIcon(QIcon(path));
}

// Reads the first selected device, lets the user edit and, after Apply, writes.
void ReadEditApply(AppCore& core, TConfig_Form& window)
{
    core.SetConfig(&window);
    window.RefreshFromDevice();
    DeviceListModel& devices = core.Devices();
    DeviceRow* first = devices.SelectedRows().value(0);
    if (!first || devices.State(first) != DeviceState::Ok)
        return;
    if (window.ShowModal() != QDialog::Accepted)
        return;
    ApplyConfiguration(core);
}

} // namespace

TConfig_Form& FindConfigWindow(AppCore& core)
{
    // A data folder whose system.ini has no [Module Form] entry (every fresh one) still gets
    // the window of the managed model; a name that is given must exist.
    ConfigTarget* target =
        CreateConfigWindow(core, core.Settings().module, [](const QString& name) -> ConfigTarget* {
            return TConfig_Form::FindConfigForm(
                name.isEmpty() ? QString::fromLatin1(Ktr4200FormName) : name);
        });
    return *static_cast<TConfig_Form*>(target);
}

void RunConfigurationTask(AppCore& core, TConfig_Form& window)
{
    DeviceListModel& devices = core.Devices();
    const bool withDevices = SelectAllIfNoneSelected(core, BatchText::ConfigAllQuestion,
                                                     BatchText::ConfigAllCaption);
    if (!withDevices) {
        SetIcon(core, window, EditConfigIcon);
        window.SetEditMode();
        window.ShowModal();
        return;
    }
    SetIcon(core, window, WriteConfigIcon);
    if (devices.SelectedCount() == 1)
        window.SetSingleDeviceMode();
    else
        window.SetMultipleDevicesMode();
    ReadEditApply(core, window);
}

void RunDeviceConfiguration(AppCore& core, TConfig_Form& window)
{
    if (core.Devices().SelectedCount() == 0)
        return;
    SetIcon(core, window, WriteConfigIcon);
    window.SetSingleDeviceMode();
    ReadEditApply(core, window);
}
