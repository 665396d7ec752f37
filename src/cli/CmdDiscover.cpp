#include "app/AppCore.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/TextHelpers.h"

#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] discover [--json]\n"
    "\n"
    "Finds the access points on the network and prints the device list.\n"
    "\n"
    "Discover sends NIMP discovery requests and listens for DiscoveryTimeout seconds,\n"
    "in passes of at most 3 s with DiscoveryRetry requests each. With Filter on, only\n"
    "devices of the model named by Module are listed (KTR-4200 and KTR-4200AP go\n"
    "together). A device that answers several requests is listed once. The settings\n"
    "come from system.ini in the data folder ([System] NimpAddress and NimpPort say\n"
    "where the requests go).\n"
    "\n"
    "options:\n"
    "  --json   print a JSON array on standard output, one object per device with the\n"
    "           column names as keys (\"Model Name\", \"Mac Address\", \"IP Address\",\n"
    "           \"Netmask\", \"F/W Version\", \"Device Name\")\n"
    "  --help   show this text\n"
    "\n"
    "Log lines go to standard error. Exit status: 0 when Discover ran, 1 when sending\n"
    "the discovery requests failed, 2 for usage errors.\n";

// The cells as a terminal may show them: what came from the network is escaped.
QString shownCell(DeviceListModel& devices, int row, int column)
{
    return EscapeUntrusted(devices.Cell(devices.Row(row), column).value_or(QString()));
}

void printTable(AppCore& core)
{
    DeviceListModel& devices = core.Devices();
    constexpr int shown = DeviceListModel::ColDeviceName + 1;
    QList<int> widths;
    for (int c = 0; c < shown; ++c) {
        int w = int(DeviceListModel::ColumnNames().at(c).size());
        for (int r = 0; r < devices.Count(); ++r)
            w = std::max(w, int(shownCell(devices, r, c).size()));
        widths.append(w);
    }
    auto printRow = [&](const QStringList& cells) {
        QString line;
        for (int c = 0; c < shown; ++c)
            line +=
                (c ? QStringLiteral("  ") : QString()) + cells.value(c).leftJustified(widths[c]);
        std::printf("%s\n", qPrintable(line.trimmed()));
    };
    printRow(DeviceListModel::ColumnNames().mid(0, shown));
    for (int r = 0; r < devices.Count(); ++r) {
        QStringList cells;
        for (int c = 0; c < shown; ++c)
            cells.append(shownCell(devices, r, c));
        printRow(cells);
    }
}

int runDiscover(const QStringList& argv)
{
    return RunCliCommand("discover", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        args.finish();

        CliSession session(false);
        AppCore& core = session.core();
        core.Discover();
        QList<DeviceRow*> rows;
        for (int r = 0; r < core.Devices().Count(); ++r)
            rows.append(core.Devices().Row(r));
        if (json)
            std::fputs(RowsToJson(core, rows).constData(), stdout);
        else
            printTable(core);
        std::fflush(stdout);
        if (!core.StatusText().isEmpty()) {
            std::fprintf(stderr, "nodewarden discover: %s\n", qPrintable(core.StatusText()));
            return ExitSomeFailed;
        }
        return ExitAllOk;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("discover"),
     QStringLiteral("discover [--json]            list the devices that answer"), runDiscover});

} // namespace
