#include "cli/CliCommand.h"
#include "cli/CmdShared.h"
#include "common/TextHelpers.h"
#include "config/ConfigDiff.h"
#include "config/ConfigText.h"
#include "config/UserConfigFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

constexpr int ExitEqual = 0;
constexpr int ExitDiffer = 1;
constexpr int ExitUnreadable = 2;

// Why a file is no configuration file to compare (empty when it is one): larger than the
// files write-config takes, binary, or a line that is neither a setting nor the model line.
QString notAConfiguration(const QString& file)
{
    const QString shown = EscapeUntrusted(file);
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return QString::fromLatin1(UserConfigText::Unreadable).arg(shown);
    if (f.size() > UserConfigFileLimit)
        return QString::fromLatin1(UserConfigText::TooLarge).arg(shown);
    const QByteArray data = f.read(UserConfigFileLimit + 1);
    if (data.size() > UserConfigFileLimit)
        return QString::fromLatin1(UserConfigText::TooLarge).arg(shown);
    if (data.contains('\0'))
        return QStringLiteral("%1 holds binary data: it is not a configuration file").arg(shown);
    static const QRegularExpression setting(QStringLiteral("^\\s*[A-Za-z0-9_]+\\s*="));
    QStringList lines = SplitConfigText(QString::fromLatin1(data));
    int settings = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (TrimConfigText(line).isEmpty())
            continue;
        if (setting.match(line).hasMatch()) {
            ++settings;
            continue;
        }
        // Only the first line may be something else: the model name.
        if (settings == 0 && i == 0 && !line.contains(QLatin1Char('=')))
            continue;
        return QStringLiteral("%1, line %2 is not a setting: it is not a configuration file")
            .arg(shown)
            .arg(i + 1);
    }
    if (settings == 0)
        return QString::fromLatin1(UserConfigText::NoKnownSetting).arg(shown);
    return QString();
}

const char* const HelpText =
    "usage: nodewarden diff [--json] FILE_A FILE_B\n"
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
    "  --json   print a JSON array instead, one object per difference: \"name\", and \"a\"\n"
    "           and \"b\", the value in FILE_A and in FILE_B as the file holds it, null\n"
    "           where the file does not hold the setting; for an access control entry\n"
    "           the name is the add line's and the values are the entry (null in the\n"
    "           file whose list lacks it). Texts are kept exactly.\n"
    "  --help   show this text\n"
    "\n"
    "Exit status: 0 when the files hold the same settings, 1 when they differ, 2 when a\n"
    "file cannot be read, is no configuration file (binary, larger than 1 MB, or a line\n"
    "that is not a setting) or for usage errors.\n";

QByteArray differencesToJson(const QList<ConfigDifference>& differences)
{
    QJsonArray array;
    for (const ConfigDifference& d : differences) {
        const bool inA = d.kind == ConfigDifference::Changed ||
                         d.kind == ConfigDifference::OnlyInA ||
                         d.kind == ConfigDifference::AclRemoved;
        const bool inB = d.kind == ConfigDifference::Changed ||
                         d.kind == ConfigDifference::OnlyInB ||
                         d.kind == ConfigDifference::AclAdded;
        array.append(QJsonObject{{QStringLiteral("name"), d.name},
                                 {QStringLiteral("a"), JsonTextOrNull(d.a, inA)},
                                 {QStringLiteral("b"), JsonTextOrNull(d.b, inB)}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

int runDiff(const QStringList& argv)
{
    return RunCliCommand("diff", HelpText, argv, [](CliArgs& args) {
        const bool json = args.flag(QStringLiteral("--json"));
        const QStringList files = args.rest();
        if (files.size() != 2)
            throw CliUsageError{QStringLiteral("give two files")};
        for (const QString& file : files) {
            if (!QFileInfo(file).isFile()) {
                std::fprintf(stderr, "nodewarden diff: cannot read %s\n",
                             qPrintable(EscapeUntrusted(file)));
                return ExitUnreadable;
            }
            // Neither a binary nor a huge file is compared as if it held settings.
            const QString problem = notAConfiguration(file);
            if (!problem.isEmpty()) {
                std::fprintf(stderr, "nodewarden diff: %s\n", qPrintable(problem));
                return ExitUnreadable;
            }
        }
        QList<ConfigDifference> differences;
        if (!CompareConfigFiles(files.at(0), files.at(1), differences)) {
            std::fprintf(stderr, "nodewarden diff: cannot read %s or %s\n",
                         qPrintable(EscapeUntrusted(files.at(0))),
                         qPrintable(EscapeUntrusted(files.at(1))));
            return ExitUnreadable;
        }
        if (json)
            std::fputs(differencesToJson(differences).constData(), stdout);
        else
            for (const ConfigDifference& d : differences)
                std::printf("%s\n", qPrintable(EscapeUntrusted(DescribeConfigDifference(d))));
        std::fflush(stdout);
        return differences.isEmpty() ? ExitEqual : ExitDiffer;
    });
}

const CliCommandRegistration registration(
    {QStringLiteral("diff"),
     QStringLiteral("diff [--json] FILE_A FILE_B   compare two configuration files"), runDiff});

} // namespace
