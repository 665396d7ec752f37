#include "app/AppCore.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] read-config --mac MAC --output FILE [--yes] [--json]\n"
    "\n"
    "Discovers the devices, then has the device named put its configuration file to\n"
    "the console's TFTP server (port TftpPort of system.ini, address TftpServerAddress\n"
    "or the local address on the device's subnet), loads it to check it, and copies it\n"
    "to FILE. The device has ConfigUploadTime + TimingTolerance seconds for the\n"
    "transfer. The read-back file also stays in Config/Temp/MAC.RD of the data folder.\n"
    "\n"
    "options:\n"
    "  --mac MAC      the device: twelve hex digits, with or without ':' or '-'\n"
    "                 separators, either case\n"
    "  --output FILE  where to write the configuration; it is replaced only when the\n"
    "                 read succeeded\n"
    "  --yes          Ctrl-C aborts at once instead of asking\n"
    "  --json         print the device's row as a JSON array on standard output\n"
    "  --help         show this text\n"
    "\n"
    "A MAC that Discover did not find is an error before anything is sent. Log lines\n"
    "go to standard error. Exit status: 0 when the device ends \"OK\" and FILE was\n"
    "written, 1 otherwise, 2 for usage errors.\n";

// A failed copy leaves the old file as it was, never half a file.
bool copyInto(const QString& from, const QString& to, QString* error)
{
    QString reason;
    if (CopyWholeFile(from, to, &reason))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(to, reason);
    return false;
}

int runReadConfig(const QStringList& argv)
{
    return RunCliCommand("read-config", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const QStringList macs = args.values(QStringLiteral("--mac"));
        const std::optional<QString> output = args.value(QStringLiteral("--output"));
        args.finish();
        if (macs.size() != 1)
            throw CliUsageError{QStringLiteral("give one --mac MAC")};
        if (!NormalizeMacText(macs.first()))
            throw CliUsageError{QStringLiteral("'%1' is not a MAC address").arg(macs.first())};
        if (!output || output->isEmpty())
            throw CliUsageError{QStringLiteral("--output FILE is needed")};
        const QFileInfo outInfo(*output);
        if (outInfo.isDir())
            throw CliUsageError{QStringLiteral("--output names a folder: %1").arg(*output)};
        if (!outInfo.absoluteDir().exists())
            throw CliUsageError{QStringLiteral("the folder of %1 does not exist").arg(*output)};

        CliSession session(yes);
        session.DiscoverAndSelect(macs, false);
        AppCore& core = session.core();
        DeviceListModel& devices = core.Devices();
        DeviceRow* row = devices.SelectedRows().value(0);
        core.ReadConfiguration(row);
        const int result = ReportSelectedRows(core, json);
        if (result != ExitAllOk)
            return result;
        QString error;
        if (!copyInto(core.ReadBackFile(row), *output, &error)) {
            std::fprintf(stderr, "nodewarden read-config: %s\n", qPrintable(error));
            return ExitSomeFailed;
        }
        return ExitAllOk;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("read-config"),
     QStringLiteral("read-config --mac MAC --output FILE   read a device's configuration"),
     runReadConfig});

} // namespace
