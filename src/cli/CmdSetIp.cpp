#include "app/AppCore.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/AddressCheck.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] set-ip (--mac MAC... | --all) --ip A.B.C.D --mask M\n"
    "                                      [--yes] [--json]\n"
    "\n"
    "Discovers the devices, selects the ones named, and sets their IP address and\n"
    "netmask. One device gets the address as given; several devices get a run of\n"
    "consecutive addresses in the order of the device list (the order in which\n"
    "Discover listed them): the last number counts up, and after .254 comes .1.\n"
    "Each device is tried up to three times; the operation then waits up to\n"
    "NimpSetTimeout + TimingTolerance seconds for the acknowledgements.\n"
    "\n"
    "options:\n"
    "  --mac MAC...  the devices to set, by MAC address: twelve hex digits, with or\n"
    "                without ':' or '-' separators, either case; several may follow\n"
    "                one --mac, --mac may be repeated, commas separate too\n"
    "  --all         every device Discover finds\n"
    "  --ip A.B.C.D  the (first) address\n"
    "  --mask M      the netmask, in dotted form\n"
    "  --yes         do not ask before starting; Ctrl-C aborts at once instead of\n"
    "                asking\n"
    "  --json        print the selected devices as a JSON array on standard output,\n"
    "                an object per device with the column names as keys\n"
    "  --help        show this text\n"
    "\n"
    "A MAC that Discover did not find, a netmask that is not a run of ones followed by\n"
    "zeros, and an address that would be the network or broadcast address of its\n"
    "subnet under the netmask are errors before anything is sent. Log lines\n"
    "go to standard error, with a progress line when it is a terminal. At the end one\n"
    "line per device gives its final Status. Exit status: 0 when every device ends\n"
    "\"OK\", 1 when any does not, 2 for usage errors.\n";

int runSetIp(const QStringList& argv)
{
    return RunCliCommand("set-ip", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const std::optional<QString> ip = args.value(QStringLiteral("--ip"));
        const std::optional<QString> mask = args.value(QStringLiteral("--mask"));
        args.finish();
        choice.Check();
        const std::optional<quint32> address = ip ? ParseDottedIPv4(*ip) : std::nullopt;
        if (!address)
            throw CliUsageError{QStringLiteral("--ip needs an address A.B.C.D")};
        const std::optional<quint32> netmask = mask ? ParseDottedIPv4(*mask) : std::nullopt;
        if (!netmask)
            throw CliUsageError{QStringLiteral("--mask needs a netmask in dotted form")};
        // Written as plain numbers: a device must not read "010" as another number.
        const QString first = DottedIPv4(*address);
        const QString maskText = DottedIPv4(*netmask);
        // The first address can be refused before anything is sent; the run of a --all is
        // checked again once Discover has counted the devices.
        if (const QString problem = CheckAddressAndNetmask(first, maskText); !problem.isEmpty())
            throw CliUsageError{problem};

        CliSession session(yes);
        session.DiscoverAndSelect(choice.macs, choice.all);
        AppCore& core = session.core();
        if (NoDeviceSelected(core, "set-ip"))
            return ExitSomeFailed;
        const int count = core.Devices().SelectedCount();
        if (const QString problem = CheckAddressRun(first, maskText, count); !problem.isEmpty())
            throw CliUsageError{problem + QStringLiteral(" Nothing was sent to any device.")};
        core.SetIP(first, maskText);
        return ReportSelectedRows(core, json);
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("set-ip"),
     QStringLiteral("set-ip (--mac MAC... | --all) --ip A.B.C.D --mask M   set addresses"),
     runSetIp});

} // namespace
