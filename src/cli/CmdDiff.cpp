#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/TextHelpers.h"
#include "config/ConfigDiff.h"

#include <QFileInfo>
#include <cstdio>

namespace {

constexpr int ExitEqual = 0;
constexpr int ExitDiffer = 1;
constexpr int ExitUnreadable = 2;

const char* const HelpText =
    "usage: nodewarden diff FILE_A FILE_B\n"
    "\n"
    "Prints the settings that differ between two configuration files (a backup's MAC.cfg,\n"
    "a file the configuration window saved, a read-back file), one line each:\n"
    "  name: value in FILE_A -> value in FILE_B\n"
    "with (none) for a setting a file does not hold, and for the access control lists\n"
    "  80211a_acl_mac_add: added MAC    /    80211a_acl_mac_add: removed MAC\n"
    "Names match in either case; WEP keys compare in their normalized form, 802.11a keys\n"
    "by position. The model-name line is not a setting. Characters that do not print are\n"
    "written as escapes.\n"
    "\n"
    "options:\n"
    "  --help   show this text\n"
    "\n"
    "Exit status: 0 when the files hold the same settings, 1 when they differ, 2 when a\n"
    "file cannot be read or for usage errors.\n";

int runDiff(const QStringList& argv)
{
    return RunCliCommand("diff", HelpText, argv, [&argv](CliArgs&) {
        if (argv.size() != 2)
            throw CliUsageError{QStringLiteral("give two files")};
        for (const QString& file : argv) {
            if (!QFileInfo(file).isFile()) {
                std::fprintf(stderr, "nodewarden diff: cannot read %s\n",
                             qPrintable(EscapeUntrusted(file)));
                return ExitUnreadable;
            }
        }
        QStringList differences;
        if (!DiffConfigFiles(argv.at(0), argv.at(1), differences)) {
            std::fprintf(stderr, "nodewarden diff: cannot read %s or %s\n",
                         qPrintable(EscapeUntrusted(argv.at(0))),
                         qPrintable(EscapeUntrusted(argv.at(1))));
            return ExitUnreadable;
        }
        for (const QString& line : differences)
            std::printf("%s\n", qPrintable(EscapeUntrusted(line)));
        std::fflush(stdout);
        return differences.isEmpty() ? ExitEqual : ExitDiffer;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("diff"),
     QStringLiteral("diff FILE_A FILE_B           compare two configuration files"), runDiff});

} // namespace
