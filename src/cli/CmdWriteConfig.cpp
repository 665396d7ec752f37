#include "app/AppCore.h"
#include "app/BatchOperations.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "config/ConfigFileTarget.h"
#include "config/UserConfigFile.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] write-config (--mac MAC... | --all) --file FILE\n"
    "                                           [--no-verify] [--no-reset] [--factory-password]\n"
    "                                           [--yes] [--json]\n"
    "\n"
    "Discovers the devices, selects the ones named, and writes the configuration in\n"
    "FILE to each of them. FILE is a configuration file as the configuration window's\n"
    "Save button writes it (one 'name =value' line per setting, no model-name line);\n"
    "the settings it holds are the ones written, every other setting of a device stays\n"
    "as it is. Each device gets its own file Config/Temp/MAC.WR in the data folder,\n"
    "with its model name on the first line, fetches it from the console's TFTP server\n"
    "and writes it to flash.\n"
    "\n"
    "With one device, an address and netmask in FILE move the device there first. With\n"
    "several devices, the device name, address and netmask of FILE are not written.\n"
    "Afterwards each device is reset (ApplyReset of system.ini) and its configuration is\n"
    "read back into Config/Temp/MAC.RD and compared with what was written (Verify).\n"
    "\n"
    "options:\n"
    "  --mac MAC...  the devices to write, by MAC address: twelve hex digits, with or\n"
    "                without ':' or '-' separators, either case; several may follow\n"
    "                one --mac, --mac may be repeated, commas separate too\n"
    "  --all         every device Discover finds\n"
    "  --file FILE   the configuration to write\n"
    "  --no-verify   do not read the configuration back to compare it (this run only)\n"
    "  --no-reset    do not reset the devices after the write (this run only)\n"
    "  --factory-password\n"
    "                talk to the devices with the factory default password instead of\n"
    "                the access password: a device left on factory settings by an\n"
    "                interrupted upgrade (the upgrade's log gives this command)\n"
    "  --yes         Ctrl-C aborts at once instead of asking\n"
    "  --json        print the selected devices as a JSON array on standard output\n"
    "  --help        show this text\n"
    "\n"
    "A FILE that cannot be read, is larger than 1 MB or holds no setting the console\n"
    "knows, a value in it that holds a control character or a character outside\n"
    "Latin-1 (FILE is read as UTF-8 when it is valid UTF-8, else as Latin-1), and a\n"
    "MAC that Discover did not find are errors before anything is sent; a bad value\n"
    "is named with its line. Log lines go to standard error. At the\n"
    "end one line per device gives its final Status. Exit status: 0 when every device\n"
    "ends \"OK\", 1 when any does not, 2 for usage errors.\n";

// Reads FILE the way the window's Open button does, so that a write sends exactly what
// the window would send for it; a file Open would refuse is refused before anything is sent.
void loadConfiguration(ConfigFileTarget& target, const QString& file)
{
    const UserConfigFile checked = ReadUserConfigFile(file);
    if (!checked.error.isEmpty())
        throw CliUsageError{checked.error};
    target.LoadSelectedLines(checked.lines);
}

int runWriteConfig(const QStringList& argv)
{
    return RunCliCommand("write-config", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        BatchRunOptions options;
        if (args.flag(QStringLiteral("--no-verify")))
            options.verify = false;
        if (args.flag(QStringLiteral("--no-reset")))
            options.applyReset = false;
        options.factoryPassword = args.flag(QStringLiteral("--factory-password"));
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const std::optional<QString> file = args.value(QStringLiteral("--file"));
        args.finish();
        choice.Check();
        if (!file || file->isEmpty())
            throw CliUsageError{QStringLiteral("--file FILE is needed")};

        CliSession session(yes);
        AppCore& core = session.core();
        auto* target = dynamic_cast<ConfigFileTarget*>(core.Config());
        if (!target)
            throw CliUsageError{QStringLiteral("no configuration target")};
        loadConfiguration(*target, *file);
        session.DiscoverAndSelect(choice.macs, choice.all);
        if (NoDeviceSelected(core, "write-config"))
            return ExitSomeFailed;
        // One file for several devices must not give them one address or one name.
        if (core.Devices().SelectedCount() > 1)
            target->SetMultipleDevicesMode();
        ApplyConfiguration(core, options);
        return ReportSelectedRows(core, json);
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("write-config"),
     QStringLiteral("write-config (--mac MAC... | --all) --file FILE   write a configuration"),
     runWriteConfig});

} // namespace
