#include "app/AppCore.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "app/FirmwareImageInfo.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/VxError.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] upgrade (--mac MAC... | --all) --firmware FILE\n"
    "                                      [--canary N] [--wave M] [--max-failures K]\n"
    "                                      [--force] [--yes] [--json]\n"
    "\n"
    "Discovers the devices, selects the ones named, and upgrades their firmware with\n"
    "the image FILE, keeping each device's configuration:\n"
    "  1. each device puts its configuration to Config/Temp/MAC.ORI of the data folder\n"
    "     (an .ORI file from an earlier run is first copied to\n"
    "     Config/Temp/backup/MAC-yyyymmdd-hhmmss.ORI; the log says where),\n"
    "  2. fetches FILE over TFTP and writes it to flash, and is reset,\n"
    "  3. is factory reset, gets its address and netmask back, fetches its saved\n"
    "     configuration, writes it to flash, and is reset again,\n"
    "  4. reads its configuration back to compare it with the saved one (Verify of\n"
    "     system.ini).\n"
    "All devices run each step side by side: the waits of system.ini (FWDownloadTime,\n"
    "FWFlashUpdateTime, RebootTime, FactoryResetTime, ...) are paid once, not per device.\n"
    "After a factory reset the devices are reached with the factory default password,\n"
    "and they keep it: the access password cannot be set over NIMP. The summary names\n"
    "the devices concerned.\n"
    "\n"
    "A device whose upgrade is aborted (Ctrl-C, SIGTERM) or fails after its factory\n"
    "reset runs on factory settings: the log names its saved configuration and the\n"
    "write-config command that restores it, and the next upgrade of that device is\n"
    "refused until the configuration was restored, unless --force is given.\n"
    "\n"
    "options:\n"
    "  --mac MAC...     the devices to upgrade, by MAC address: twelve hex digits, with\n"
    "                   or without ':' or '-' separators, either case; several may\n"
    "                   follow one --mac, --mac may be repeated, commas separate too\n"
    "  --all            every device Discover finds\n"
    "  --firmware FILE  the firmware image\n"
    "  --canary N       upgrade the first N devices alone first (in the order of the\n"
    "                   device list, the order in which Discover listed them)\n"
    "  --wave M         then upgrade the others M at a time, each wave the whole list\n"
    "                   above for its devices (default: all at once)\n"
    "  --max-failures K before each next wave, stop when more than K devices have\n"
    "                   failed; the devices not started are left untouched and end\n"
    "                   \"Aborted!\" (default: never stop)\n"
    "  --force          upgrade devices whose last upgrade was interrupted after their\n"
    "                   factory reset (their saved configuration is kept as a backup)\n"
    "  --yes            do not ask before starting; Ctrl-C aborts at once instead of\n"
    "                   asking (SIGTERM always does)\n"
    "  --json           print the selected devices as a JSON array on standard output\n"
    "  --help           show this text\n"
    "\n"
    "On a terminal the command asks once before it starts, unless --yes is given; run\n"
    "from a script (standard input no terminal) it does not ask.\n"
    "\n"
    "A firmware file that is missing, unreadable or empty, and a MAC that Discover did\n"
    "not find, are errors before anything is sent. Log lines go to standard error. At\n"
    "the end one line per device gives its final Status. Exit status: 0 when every\n"
    "device ends \"OK\", 1 when any does not, 2 for usage errors.\n";

int runUpgrade(const QStringList& argv)
{
    return RunCliCommand("upgrade", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const bool force = args.flag(QStringLiteral("--force"));
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const std::optional<QString> firmware = args.value(QStringLiteral("--firmware"));
        UpgradeWavePlan plan;
        plan.canary = CliCount(args, "--canary", 0).value_or(0);
        plan.wave = CliCount(args, "--wave", 1).value_or(0);
        plan.maxFailures = CliCount(args, "--max-failures", 0);
        args.finish();
        choice.Check();
        if (!firmware || firmware->isEmpty())
            throw CliUsageError{QStringLiteral("--firmware FILE is needed")};
        try {
            CheckFirmwareImage(*firmware);
        } catch (const VxError& e) {
            throw CliUsageError{e.message()};
        }

        CliSession session(yes);
        session.DiscoverAndSelect(choice.macs, choice.all);
        AppCore& core = session.core();
        if (NoDeviceSelected(core, "upgrade"))
            return ExitSomeFailed;
        if (!force) {
            const QList<InterruptedUpgrade> interrupted =
                InterruptedUpgrades(core, core.Devices().SelectedRows());
            if (!interrupted.isEmpty()) {
                std::fputs("nodewarden upgrade: the last upgrade of these devices ended after their "
                           "factory reset, so they run on factory settings; upgrading them now "
                           "would save the factory settings as their configuration. Restore each "
                           "one first (or give --force):\n",
                           stderr);
                for (const InterruptedUpgrade& u : interrupted)
                    std::fprintf(stderr, "  %s (%s): %s\n", qPrintable(u.mac), qPrintable(u.time),
                                 qPrintable(RestoreCommand(u)));
                return ExitSomeFailed;
            }
        }
        const FirmwareImageInfo image = ReadFirmwareImageInfo(*firmware);
        if (!session.Confirm(QStringLiteral("Upgrade %1 with %2 (%3 bytes, SHA-256 %4)?")
                                 .arg(UpgradePlanText(core.Devices().SelectedCount(), plan),
                                      image.fileName)
                                 .arg(image.size)
                                 .arg(image.sha256.left(12))))
            return NotConfirmed("upgrade");
        BatchRunOptions options;
        options.afterInterruptedUpgrade = force;
        options.waves = plan;
        UpgradeFirmware(core, *firmware, options);
        const int status = ReportSelectedRows(core, json);
        QStringList reset;
        for (DeviceRow* row : core.Devices().SelectedRows())
            if (row->job.factoryResetSent)
                reset.append(DeviceListModel::MacText(row));
        if (!reset.isEmpty())
            std::fprintf(json ? stderr : stdout, "%s%s\n", qPrintable(BatchText::FactoryPasswordNotice),
                         qPrintable(reset.join(QStringLiteral(", "))));
        return status;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("upgrade"),
     QStringLiteral("upgrade (--mac MAC... | --all) --firmware FILE   upgrade firmware"),
     runUpgrade});

} // namespace
