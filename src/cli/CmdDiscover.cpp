#include "app/AppCore.h"
#include "app/DeviceListExport.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/TextHelpers.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] discover [--json | --csv]\n"
    "\n"
    "Finds the access points on the network and prints the device list.\n"
    "\n"
    "Discover sends NIMP discovery requests and listens for DiscoveryTimeout seconds,\n"
    "in passes of at most 3 s with DiscoveryRetry requests each. With Filter on, only\n"
    "devices of the model named by Module are listed (KTR-4200 and KTR-4200AP go\n"
    "together). A device that answers several requests is listed once. The settings\n"
    "come from system.ini in the data folder ([System] NimpAddress and NimpPort say\n"
    "where the requests go). Requests to the broadcast address 255.255.255.255 go out\n"
    "of each network interface that NimpInterface names (a comma-separated list; the\n"
    "global option --interface NAME for one run), by default of every interface that\n"
    "is up, has an IPv4 address and is not a loopback. A device is listed on the\n"
    "interface it answered on first, and later operations reach it through that one.\n"
    "\n"
    "options:\n"
    "  --json   print a JSON array on standard output, one object per device with the\n"
    "           column names as keys (\"Model Name\", \"Mac Address\", \"IP Address\",\n"
    "           \"Netmask\", \"F/W Version\", \"Device Name\"), and \"Interface\", the\n"
    "           interface the device answered on, when the requests were broadcast\n"
    "  --csv    print CSV on standard output: a header line of the column names, then\n"
    "           one line per device (the same CSV as the window's Export List)\n"
    "  --help   show this text\n"
    "\n"
    "Text that the devices report is printed with characters that do not print written\n"
    "as escapes (\\n, \\x1B, ...); JSON keeps it exactly. Log lines go to standard error\n"
    "and to Logs/YYYY-MM-DD.log of the data folder.\n"
    "\n"
    "Exit status: 0 when at least one device answered, 1 when no device answered or\n"
    "sending the discovery requests failed, 2 for usage errors (an interface name that\n"
    "is no usable interface of this machine included).\n";

void printTable(const DeviceListModel& devices, const QList<DeviceRow*>& rows)
{
    constexpr int shown = DeviceListModel::ColDeviceName + 1;
    QList<QStringList> lines;
    lines.append(DeviceListModel::ColumnNames().mid(0, shown));
    for (const DeviceRow* row : rows) {
        QStringList cells;
        for (int c = 0; c < shown; ++c)
            cells.append(EscapeUntrusted(devices.Cell(row, c).value_or(QString())));
        lines.append(cells);
    }
    QList<int> widths(shown, 0);
    for (const QStringList& cells : lines)
        for (int c = 0; c < shown; ++c)
            widths[c] = std::max(widths[c], int(cells.at(c).size()));
    for (const QStringList& cells : lines) {
        QString line;
        for (int c = 0; c < shown; ++c)
            line += (c ? QStringLiteral("  ") : QString()) + cells.at(c).leftJustified(widths[c]);
        std::printf("%s\n", qPrintable(line.trimmed()));
    }
}

int runDiscover(const QStringList& argv)
{
    return RunCliCommand("discover", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool csv = args.flag(QStringLiteral("--csv"));
        args.finish();
        if (json && csv)
            throw CliUsageError{QStringLiteral("give --json or --csv, not both")};

        CliSession session(false);
        AppCore& core = session.core();
        core.Discover();
        const DeviceListModel& devices = core.Devices();
        QList<DeviceRow*> rows;
        for (int r = 0; r < devices.Count(); ++r)
            rows.append(devices.Row(r));
        if (json)
            std::fputs(DeviceRowsToJson(devices, rows).constData(), stdout);
        else if (csv)
            std::fputs(DeviceRowsToCsv(devices, rows).constData(), stdout);
        else
            printTable(devices, rows);
        std::fflush(stdout);
        if (!core.StatusText().isEmpty()) {
            std::fprintf(stderr, "nodewarden discover: %s\n", qPrintable(core.StatusText()));
            return ExitSomeFailed;
        }
        if (rows.isEmpty()) {
            PrintNoAnswerHelp(core, "discover");
            return ExitSomeFailed;
        }
        return ExitAllOk;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("discover"),
     QStringLiteral("discover [--json | --csv]   list the devices that answer"), runDiscover});

} // namespace
