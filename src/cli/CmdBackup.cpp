#include "app/AppCore.h"
#include "app/Backup.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/VxError.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] backup (--mac MAC... | --all) [--output DIR] [--yes]\n"
    "                                      [--json]\n"
    "\n"
    "Discovers the devices once, then has every device named put its configuration file\n"
    "to the console's TFTP server, all in one run. DIR receives one MAC.cfg per device,\n"
    "the device's configuration as it reports it (the configuration window's Open reads\n"
    "it), and index.json: for each device its model, MAC, IP address, name, firmware\n"
    "version, the time of its file, the file's SHA-256 and its final Status. Each device\n"
    "has ConfigUploadTime + TimingTolerance seconds for its transfer.\n"
    "\n"
    "To restore a device, write its file back:\n"
    "  nodewarden write-config --mac MAC --file DIR/MAC.cfg\n"
    "\n"
    "options:\n"
    "  --mac MAC...   the devices, by MAC address: twelve hex digits, with or without ':'\n"
    "                 or '-' separators, either case; several may follow one --mac\n"
    "  --all          every device Discover finds\n"
    "  --output DIR   where the files go (created when missing); default\n"
    "                 Backups/YYYY-MM-DD_HHMMSS/ in the data folder\n"
    "  --yes          Ctrl-C aborts at once instead of asking\n"
    "  --json         print the selected devices as a JSON array on standard output\n"
    "  --help         show this text\n"
    "\n"
    "The folder is printed on standard output after the devices. Log lines go to standard\n"
    "error and to Logs/YYYY-MM-DD.log of the data folder. Exit status: 0 when every device\n"
    "was read and the index written, 1 otherwise, 2 for usage errors.\n";

int runBackup(const QStringList& argv)
{
    return RunCliCommand("backup", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const CliDeviceChoice choice = CliDeviceChoice::Read(args);
        const std::optional<QString> output = args.value(QStringLiteral("--output"));
        args.finish();
        choice.Check();
        if (output && output->isEmpty())
            throw CliUsageError{QStringLiteral("--output needs a folder")};
        if (output && QFileInfo::exists(*output) && !QFileInfo(*output).isDir())
            throw CliUsageError{QStringLiteral("--output names a file: %1").arg(*output)};

        CliSession session(yes);
        AppCore& core = session.core();
        session.DiscoverAndSelect(choice.macs, choice.all);
        if (NoDeviceSelected(core, "backup"))
            return ExitSomeFailed;
        const QString folder =
            output ? *output : DefaultBackupFolder(core, QDateTime::currentDateTime());
        BackupOutcome outcome;
        try {
            outcome = BackUpConfigurations(core, folder);
        } catch (const VxError& e) {
            std::fprintf(stderr, "nodewarden backup: %s\n", qPrintable(e.message()));
            return ExitSomeFailed;
        }
        const int result = ReportSelectedRows(core, json);
        if (!json)
            std::printf("%s\n", qPrintable(QDir::toNativeSeparators(outcome.folder)));
        std::fflush(stdout);
        return result == ExitAllOk && outcome.indexWritten ? ExitAllOk : ExitSomeFailed;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("backup"),
     QStringLiteral("backup (--mac MAC... | --all) [--output DIR]   save configurations"),
     runBackup});

} // namespace
