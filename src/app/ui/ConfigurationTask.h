#pragma once

#include <QString>

class AppCore;
class QWidget;
class TConfig_Form;

// The configuration operations of the main window. Both run their operation to the end (the
// event loop runs while the device is read, while the window is shown and while the
// configuration is written); errors of the engine are raised to the caller.

// The configuration window of the managed module: [Module Form] of system.ini names it, and
// without an entry there it is the KTR-4200 window. Raises "Unknow Module:" + the name when
// no window has the name given; the window found becomes the engine's configuration target.
TConfig_Form& FindConfigWindow(AppCore& core);

// The Configuration button. With an empty device list, or when the user declines to configure
// every device, the window opens for files only and nothing is sent. Otherwise the window
// reads the first selected device, is shown for one device or for several, and after Apply
// the configuration is written to every selected device.
void RunConfigurationTask(AppCore& core, TConfig_Form& window);

// A double click on the device list: the first selected device's configuration is read,
// edited and written back to the selected devices, in the single-device mode whatever the
// number of selected rows. Nothing happens without a selected row.
void RunDeviceConfiguration(AppCore& core, TConfig_Form& window);

// The window's icons in the data folder's bmp folder.
inline constexpr const char* EditConfigIcon = "bmp/EditConfig.ico";
inline constexpr const char* WriteConfigIcon = "bmp/WriteConfig.ico";
