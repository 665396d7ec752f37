#include "app/AppCore.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/VxError.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] upgrade (--mac MAC... | --all) --firmware FILE\n"
    "                                      [--yes] [--json]\n"
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
    "After a factory reset the devices are reached with the factory default password.\n"
    "\n"
    "options:\n"
    "  --mac MAC...     the devices to upgrade, by MAC address: twelve hex digits, with\n"
    "                   or without ':' or '-' separators, either case; several may\n"
    "                   follow one --mac, --mac may be repeated, commas separate too\n"
    "  --all            every device Discover finds\n"
    "  --firmware FILE  the firmware image\n"
    "  --yes            Ctrl-C aborts at once instead of asking\n"
    "  --json           print the selected devices as a JSON array on standard output\n"
    "  --help           show this text\n"
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
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const std::optional<QString> firmware = args.value(QStringLiteral("--firmware"));
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
        UpgradeFirmware(core, *firmware);
        return ReportSelectedRows(core, json);
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("upgrade"),
     QStringLiteral("upgrade (--mac MAC... | --all) --firmware FILE   upgrade firmware"),
     runUpgrade});

} // namespace
