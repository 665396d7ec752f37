#pragma once

#include "app/Command.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class AppCore;
class ConfigTarget;

// The batch operations behind the toolbar that write configurations and upgrade firmware.
// Each compiles one flat command list for all selected rows, in the order the table shows
// them, hands it to the command queue and runs it with the progress display. The waits and
// retry counts in the lists are what the devices need to write flash and reboot; later
// commands read the Status that earlier ones left.
//
// The window asks its questions and picks its files first, then calls ApplyConfiguration or
// UpgradeFirmware; the command line does the same from its options.

// An upgrade in waves: the first `canary` devices alone, then the others `wave` at a time
// (0: all together), each wave the whole upgrade list for its devices. With maxFailures set,
// more failed devices than that before a wave stop the upgrade there; the devices not started
// end "Aborted!". The default is one wave of every device.
struct UpgradeWavePlan
{
    int canary = 0;
    int wave = 0;
    std::optional<int> maxFailures;
};

// The rows of each wave, in order.
QList<QList<DeviceRow*>> UpgradeWaves(const QList<DeviceRow*>& rows, const UpgradeWavePlan& plan);
// The plan in words: "7 device(s): 1 canary, then waves of 3; stop after 1 failure(s)".
QString UpgradePlanText(int devices, const UpgradeWavePlan& plan);

// Overrides of system.ini for one run (the command line's --no-verify and --no-reset).
struct BatchRunOptions
{
    std::optional<bool> verify;
    std::optional<bool> applyReset;
    // Talk to the devices with the factory default password instead of the access password
    // (a device left on factory settings by an interrupted upgrade).
    bool factoryPassword = false;
    // A device whose last upgrade ended after its factory reset without "OK": unset asks
    // through the operation's questions, false refuses, true goes on.
    std::optional<bool> afterInterruptedUpgrade;
    // The firmware upgrade only.
    UpgradeWavePlan waves;
};

// A device whose last firmware upgrade ended after its factory reset without "OK": it runs on
// factory settings, and its own configuration is in savedFile.
struct InterruptedUpgrade
{
    QString mac;
    QString savedFile;
    QString time;       // ISO 8601, local time
    QString dataFolder; // of the console that keeps the record
};
// The interrupted upgrades recorded for the rows, in row order.
QList<InterruptedUpgrade> InterruptedUpgrades(AppCore& core, const QList<DeviceRow*>& rows);
// The command that writes a saved configuration back to its device.
QString RestoreCommand(const InterruptedUpgrade& upgrade);

// Writes the configuration target's selected settings to every selected row's written file
// (model name first) and runs the write list: with exactly one row selected it first moves the
// device to the address the file holds, then the write, the flash update, the optional reset
// and the optional read-back verification.
void ApplyConfiguration(AppCore& core, const BatchRunOptions& options = {});

// The firmware upgrade of the selected rows with imageFile: keep each device's configuration
// in its saved file, download and flash the image, reset, factory reset, give the address
// back, write the saved configuration again, reset, and verify. A saved file from an earlier
// run is copied to Config/Temp/backup before the read replaces it. Raises a VxError before
// anything is sent when the image cannot be used or a backup cannot be made.
// factoryReset, when given, receives the MACs of the devices that were factory reset and so now
// have the factory default password, in row order; it is filled also when the run is aborted
// or raises after a reset (the log names them in every case).
void UpgradeFirmware(AppCore& core, const QString& imageFile, const BatchRunOptions& options = {},
                     QStringList* factoryReset = nullptr);

// The lists the two operations run, without running them. Compiling has the effects the
// operation has before its first command: rows set in the running, written files saved,
// earlier saved files backed up. Exposed for tests and for callers that add to a list.
std::vector<Command> CompileApplyConfiguration(AppCore& core, const BatchRunOptions& options = {});
std::vector<Command> CompileFirmwareUpgrade(AppCore& core, const QString& imageFile,
                                            const BatchRunOptions& options = {});

// Raises a VxError when imageFile is missing, not a file, unreadable or empty.
void CheckFirmwareImage(const QString& imageFile);

// The name of the configuration window for a module: key moduleName of [Module Form] in the
// ini file, empty when there is none.
QString ModuleFormName(const QString& iniPath, const QString& moduleName);

// Finds a configuration window by its component name (case-sensitive); none when no window
// has it. The window supplies the lookup over the windows it registered.
using ConfigFormFinder = std::function<ConfigTarget*(const QString& formName)>;

// Looks the module's window up through [Module Form] of system.ini, makes it the core's
// configuration target and returns it. Raises "Unknow Module:" + the name read when no
// window has that name.
ConfigTarget* CreateConfigWindow(AppCore& core, const QString& moduleName,
                                 const ConfigFormFinder& findConfigForm);

// The selection rule of the toolbar: with no row selected, asks the question (Yes/No) and on
// Yes selects every row. False when the list is empty or the answer is No.
bool SelectAllIfNoneSelected(AppCore& core, const QString& question, const QString& caption);

// Texts of the operations.
namespace BatchText {
inline const QString ConfigureCaption = QStringLiteral("Devices configure");
inline const QString ConfigurePrompt = QStringLiteral("Setting configurations to devices...");
inline const QString UpgradeCaption = QStringLiteral("Upgrade Firmware");
inline const QString UpgradePrompt =
    QStringLiteral("Uploading firmware image and updating flash...");
inline const QString UnknownModule = QStringLiteral("Unknow Module:");
inline const QString ConfigAllQuestion =
    QStringLiteral("Do you want to set configurations for all devices?");
inline const QString ConfigAllCaption = QStringLiteral("Set configurations for all devices");
// The upgrade button asks with texts of its own.
inline const QString UpgradeAllQuestion =
    QStringLiteral("Do you want to set configurations to all devices?");
inline const QString UpgradeAllCaption = QStringLiteral("Set configurations to all devices");
inline const QString UpgradeStartQuestion = QStringLiteral("Start to upgrade firmware?");
inline const QString UpgradeStartCaption = QStringLiteral("Upgrade firmware");
// Logged after the MAC when an earlier saved configuration was copied aside.
inline const QString SavedConfigKept = QStringLiteral(" Saved configuration kept as ");
// Logged after the MAC when the written file of a row could not be made.
inline const QString SaveConfigFail = QStringLiteral(" Save config fail!");
// The question (window) or the refusal (command line) before upgrading a device whose last
// upgrade was interrupted after its factory reset.
inline const QString InterruptedUpgradeCaption = QStringLiteral("Interrupted upgrade");
inline const QString InterruptedUpgradeText =
    QStringLiteral("The last firmware upgrade of these devices ended after their factory reset, "
                   "so they run on factory settings:\n%1\nUpgrading them now would save the "
                   "factory settings as their configuration. Restore each saved configuration "
                   "first. Upgrade anyway?");
// Logged after the MAC of a device left on factory settings: where its configuration is, and
// the command that gives it back.
inline const QString InterruptedUpgradeLogged =
    QStringLiteral(" was factory reset but did not finish the upgrade; its configuration is kept "
                   "in %1. Restore it with: %2");
// Logged at the end of an upgrade: the protocol cannot set the access password.
inline const QString FactoryPasswordNotice =
    QStringLiteral("These devices were factory reset and now use the factory default password "
                   "(the access password cannot be set over NIMP): ");
} // namespace BatchText

// Error codes of the batch operations.
inline constexpr int AppErrorUnknownModule = -2011;
inline constexpr int AppErrorFirmwareImage = -2012;
inline constexpr int AppErrorBackup = -2013;
inline constexpr int AppErrorNoConfigTarget = -2014;
inline constexpr int AppErrorInterruptedUpgrade = -2015;
