#include "app/AppCore.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "app/SetIpPlan.h"
#include "common/AddressCheck.h"
#include "common/TextHelpers.h"

#include <cstdio>
#include <unistd.h>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] set-ip (--mac MAC... | --all) --ip A.B.C.D --mask M\n"
    "                                      [--dry-run] [--yes] [--json]\n"
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
    "  --ip A.B.C.D  the (first) address; A.B.C.D/24 gives the netmask too\n"
    "  --mask M      the netmask: dotted (255.255.255.0), /24 or 24\n"
    "  --dry-run     print the run, device by device (MAC, name, current address, new\n"
    "                address, and what deserves a second look), and send nothing\n"
    "  --yes         do not ask before starting; Ctrl-C aborts at once instead of\n"
    "                asking\n"
    "  --json        print the selected devices as a JSON array on standard output,\n"
    "                an object per device with the column names as keys\n"
    "  --help        show this text\n"
    "\n"
    "A MAC that Discover did not find, a netmask that is not a run of ones followed by\n"
    "zeros, and an address that would be the network or broadcast address of its\n"
    "subnet under the netmask are errors before anything is sent. The run is checked:\n"
    "an address reached by wrapping past .254, held by another listed device or by\n"
    "this machine, or outside the subnet of the interface the device answered on is\n"
    "named on standard error; on a terminal the run is shown and the command asks\n"
    "once before it sends, unless --yes is given. Log lines\n"
    "go to standard error, with a progress line when it is a terminal. At the end one\n"
    "line per device gives its final Status. Exit status: 0 when every device ends\n"
    "\"OK\", 1 when any does not, 2 for usage errors.\n";

int runSetIp(const QStringList& argv)
{
    return RunCliCommand("set-ip", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const bool dryRun = args.flag(QStringLiteral("--dry-run"));
        std::optional<QString> ip = args.value(QStringLiteral("--ip"));
        std::optional<QString> mask = args.value(QStringLiteral("--mask"));
        args.finish();
        choice.Check();
        // A.B.C.D/24: the address and its netmask in one.
        if (ip && ip->contains(QLatin1Char('/'))) {
            const QString prefix = ip->section(QLatin1Char('/'), 1);
            const std::optional<QString> fromPrefix = ParseNetmaskText(prefix);
            if (!fromPrefix)
                throw CliUsageError{QStringLiteral("--ip %1: /%2 is no prefix length (0 to 32)")
                                        .arg(*ip, prefix)};
            if (mask && ParseNetmaskText(*mask) != fromPrefix)
                throw CliUsageError{QStringLiteral("--ip %1 and --mask %2 give two netmasks")
                                        .arg(*ip, *mask)};
            mask = *fromPrefix;
            ip = ip->section(QLatin1Char('/'), 0, 0);
        }
        const std::optional<quint32> address = ip ? ParseDottedIPv4(*ip) : std::nullopt;
        if (!address)
            throw CliUsageError{QStringLiteral("--ip needs an address A.B.C.D")};
        const std::optional<QString> maskGiven = mask ? ParseNetmaskText(*mask) : std::nullopt;
        const std::optional<quint32> netmask =
            maskGiven ? ParseDottedIPv4(*maskGiven) : std::nullopt;
        if (!netmask)
            throw CliUsageError{
                QStringLiteral("--mask needs a netmask: dotted (255.255.255.0), /24 or 24")};
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
        const QList<SetIpPlanEntry> plan =
            PlanSetIP(core.Devices(), core.Devices().SelectedRows(), first, LocalInterfaces());
        if (dryRun) {
            for (const QString& line : SetIpPlanLines(plan))
                std::printf("%s\n", qPrintable(line));
            return ExitAllOk;
        }
        for (const SetIpPlanEntry& e : plan)
            for (const QString& w : e.warnings)
                std::fprintf(stderr, "nodewarden set-ip: %s: %s\n", qPrintable(EscapeUntrusted(e.row->macText)),
                             qPrintable(w));
        if (::isatty(STDIN_FILENO) == 1 && !yes)
            for (const QString& line : SetIpPlanLines(plan))
                std::fprintf(stderr, "  %s\n", qPrintable(line));
        if (!session.Confirm(QStringLiteral("Set the addresses of %1 device(s) as listed, netmask %2?")
                                 .arg(count)
                                 .arg(maskText)))
            return NotConfirmed("set-ip");
        core.SetIP(first, maskText);
        return ReportSelectedRows(core, json);
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("set-ip"),
     QStringLiteral("set-ip (--mac MAC... | --all) --ip A.B.C.D --mask M   set addresses"),
     runSetIp});

} // namespace
