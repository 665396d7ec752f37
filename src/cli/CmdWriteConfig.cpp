#include "app/AppCore.h"
#include "app/Backup.h"
#include "app/BatchOperations.h"
#include "app/DeviceListExport.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "cli/WriteChanges.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "config/ConfigFile.h"
#include "config/ConfigFileTarget.h"
#include "config/ConfigText.h"
#include "config/UserConfigFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>

namespace {

const char* const HelpText =
    "usage: nodewarden [--home DIR] write-config (--mac MAC... | --all) --file FILE\n"
    "                                           [--no-verify] [--no-reset] [--factory-password]\n"
    "                                           [--changed-only [--dry-run]] [--yes] [--json]\n"
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
    "  --changed-only\n"
    "                read each device's configuration first (one read of all devices,\n"
    "                as backup does) and write only the devices on which a setting of\n"
    "                FILE differs from what the device holds: a value the device holds\n"
    "                otherwise or not at all, or an access control list FILE rewrites that\n"
    "                the device holds with other entries. A device that already holds\n"
    "                every setting is left alone and ends \"OK\". The configurations\n"
    "                read stay in Config/Temp/before/ (MAC.cfg, index.json) until the next\n"
    "                such run. A setting of FILE the console does not know is an error\n"
    "                before anything is sent. Not with --factory-password (the read uses\n"
    "                the access password)\n"
    "  --dry-run     with --changed-only: read and compare, write nothing\n"
    "  --yes         do not ask before starting; Ctrl-C aborts at once instead of\n"
    "                asking\n"
    "  --json        print the selected devices as a JSON array on standard output; with\n"
    "                --changed-only each object also holds \"Written\" (true when the\n"
    "                write ran for the device; its Status says how it ended) and\n"
    "                \"Changes\", the settings the write makes or would make: \"name\",\n"
    "                \"before\" (the device's value, null when it holds none) and \"after\"\n"
    "                (FILE's value, null for an access control entry the write removes)\n"
    "  --help        show this text\n"
    "\n"
    "A FILE that cannot be read, is larger than 1 MB or holds no setting the console\n"
    "knows, a value in it that holds a control character or a character outside\n"
    "Latin-1 (FILE is read as UTF-8 when it is valid UTF-8, else as Latin-1), a\n"
    "setting given on two lines, and a MAC that Discover did not find are errors\n"
    "before anything is sent; a bad value is named with its line. Names may be\n"
    "written in any letter case; the device gets them as it spells them. Log lines go\n"
    "to standard error. On a terminal the command asks once before it writes, unless\n"
    "--yes (or --dry-run) is given; from a script it does not ask. At the\n"
    "end one line per device gives its final Status (with --changed-only followed by\n"
    "\"unchanged\", \"written\" or \"not written\" and one line per change). Exit status:\n"
    "0 when every device ends \"OK\", 1 when any does not, 2 for usage errors.\n";

// Reads FILE the way the window's Open button does, so that a write sends exactly what
// the window would send for it; a file Open would refuse is refused before anything is sent.
void loadConfiguration(ConfigFileTarget& target, const QString& file)
{
    const UserConfigFile checked = ReadUserConfigFile(file);
    if (!checked.error.isEmpty())
        throw CliUsageError{checked.error};
    target.LoadSelectedLines(checked.lines);
}

struct DeviceChanges
{
    QList<ConfigDifference> changes;
    bool written = false;
};

QJsonArray changesToJson(const QList<ConfigDifference>& changes)
{
    QJsonArray array;
    for (const ConfigDifference& d : changes) {
        const bool before =
            d.kind == ConfigDifference::Changed || d.kind == ConfigDifference::AclRemoved;
        const bool after = d.kind != ConfigDifference::AclRemoved;
        array.append(QJsonObject{{QStringLiteral("name"), d.name},
                                 {QStringLiteral("before"), JsonTextOrNull(d.a, before)},
                                 {QStringLiteral("after"), JsonTextOrNull(d.b, after)}});
    }
    return array;
}

// The rows of a --changed-only run with what was found and done on each; 0 when every row
// ends "OK", else 1.
int reportChanges(AppCore& core, const QList<DeviceRow*>& rows,
                  const std::map<const DeviceRow*, DeviceChanges>& found, bool dryRun, bool json)
{
    DeviceListModel& devices = core.Devices();
    bool allOk = !rows.isEmpty();
    for (DeviceRow* row : rows)
        allOk = allOk && devices.State(row) == DeviceState::Ok;
    if (json) {
        QJsonArray array = QJsonDocument::fromJson(DeviceRowsToJson(devices, rows)).array();
        for (qsizetype i = 0; i < array.size(); ++i) {
            const auto it = found.find(rows.at(i));
            QJsonObject object = array.at(i).toObject();
            object.insert(QStringLiteral("Written"), it != found.end() && it->second.written);
            object.insert(QStringLiteral("Changes"),
                          it != found.end() ? changesToJson(it->second.changes) : QJsonArray());
            array[i] = object;
        }
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
    } else {
        for (DeviceRow* row : rows) {
            const auto it = found.find(row);
            const bool read = it != found.end();
            const QString outcome = !read                          ? QString()
                                    : it->second.written           ? QStringLiteral("  written")
                                    : it->second.changes.isEmpty() ? QStringLiteral("  unchanged")
                                    : dryRun ? QStringLiteral("  not written (dry run)")
                                             : QStringLiteral("  not written");
            std::printf(
                "%s  %-15s  %s%s\n",
                qPrintable(EscapeUntrusted(DeviceListModel::MacText(row))),
                qPrintable(EscapeUntrusted(row->ip)),
                qPrintable(EscapeUntrusted(devices.GetStatus(row))), qPrintable(outcome));
            if (read)
                for (const ConfigDifference& d : it->second.changes)
                    std::printf("    %s\n",
                                qPrintable(EscapeUntrusted(DescribeConfigDifference(d))));
        }
    }
    std::fflush(stdout);
    return allOk ? ExitAllOk : ExitSomeFailed;
}

// Reads every selected device's configuration, writes only those that differ from what the
// target would write (none with dryRun) and reports. Runs the event loop.
int writeChangedOnly(AppCore& core, ConfigFileTarget& target, const BatchRunOptions& options,
                     bool dryRun, bool json)
{
    DeviceListModel& devices = core.Devices();
    const QList<DeviceRow*> rows = devices.SelectedRows();
    const QStringList written = ConfigFile::BuildLines(target.settings(), QString());

    // The configurations as read stay until the next run: what the devices held before.
    const QString readFolder = QDir(core.TempDirectory()).filePath(QStringLiteral("before"));
    QDir(readFolder).removeRecursively();
    try {
        BackUpConfigurations(core, readFolder);
    } catch (const VxError& e) {
        std::fprintf(stderr, "nodewarden write-config: %s\n", qPrintable(e.message()));
        return ExitSomeFailed;
    }

    std::map<const DeviceRow*, DeviceChanges> found;
    QList<DeviceRow*> differing;
    bool aborted = false;
    for (DeviceRow* row : rows) {
        aborted = aborted || devices.State(row) == DeviceState::Aborted;
        if (devices.State(row) != DeviceState::Ok)
            continue;
        QStringList current;
        const QString file = QDir(readFolder)
                                 .filePath(DeviceListModel::MacText(row) +
                                           QStringLiteral(".cfg"));
        if (!ReadConfigLines(file, current)) {
            devices.SetState(row, DeviceState::Unsuccess);
            continue;
        }
        DeviceChanges& entry = found[row];
        entry.changes = ChangesOfWrite(current, written);
        if (!entry.changes.isEmpty())
            differing.append(row);
    }

    // An aborted read stops the run: nothing is written.
    if (!dryRun && !aborted && !differing.isEmpty()) {
        devices.ClearSelection();
        for (DeviceRow* row : differing)
            devices.SetSelected(row, true);
        ApplyConfiguration(core, options);
        for (DeviceRow* row : differing)
            found[row].written = true;
        devices.ClearSelection();
        for (DeviceRow* row : rows)
            devices.SetSelected(row, true);
    }
    return reportChanges(core, rows, found, dryRun, json);
}

int runWriteConfig(const QStringList& argv)
{
    return RunCliCommand("write-config", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const bool yes = args.flag(QStringLiteral("--yes"));
        const bool changedOnly = args.flag(QStringLiteral("--changed-only"));
        const bool dryRun = args.flag(QStringLiteral("--dry-run"));
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
        if (dryRun && !changedOnly)
            throw CliUsageError{QStringLiteral("--dry-run goes with --changed-only")};
        if (changedOnly && options.factoryPassword)
            throw CliUsageError{
                QStringLiteral("--changed-only does not go with --factory-password")};

        CliSession session(yes);
        AppCore& core = session.core();
        auto* target = dynamic_cast<ConfigFileTarget*>(core.Config());
        if (!target)
            throw CliUsageError{QStringLiteral("no configuration target")};
        loadConfiguration(*target, *file);
        if (changedOnly) {
            const QStringList unknown = UnknownSettings(*target);
            if (!unknown.isEmpty())
                throw CliUsageError{
                    QStringLiteral("%1 holds settings the console does not know: %2")
                        .arg(QDir::toNativeSeparators(*file),
                             EscapeUntrusted(unknown.join(QStringLiteral(", "))))};
        }
        session.DiscoverAndSelect(choice.macs, choice.all);
        if (NoDeviceSelected(core, "write-config"))
            return ExitSomeFailed;
        if (!dryRun && !session.Confirm(QStringLiteral("Write %1 to %2 device(s)?")
                                            .arg(QDir::toNativeSeparators(*file))
                                            .arg(core.Devices().SelectedCount())))
            return NotConfirmed("write-config");
        // One file for several devices must not give them one address or one name.
        if (core.Devices().SelectedCount() > 1)
            target->SetMultipleDevicesMode();
        if (changedOnly)
            return writeChangedOnly(core, *target, options, dryRun, json);
        ApplyConfiguration(core, options);
        return ReportSelectedRows(core, json);
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("write-config"),
     QStringLiteral("write-config (--mac MAC... | --all) --file FILE   write a configuration"),
     runWriteConfig});

} // namespace
