// The man pages against the programs they describe: every command and option that --help shows
// is documented, and nothing is documented that the program does not have.
#include "ProgramRun.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

using Options = QSet<QString>;

QString readPage(const char* name)
{
    QFile f(QStringLiteral(PACKAGING_DIR "/man/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return QString::fromUtf8(f.readAll());
}

QString helpOf(const QString& program, const QStringList& args)
{
    const ProgramRun run = RunProgram(program, args);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(args.join(QLatin1Char(' ')));
    return run.out;
}

// Options as the man page writes them ("\-\-no\-verify") or as --help does ("--no-verify").
Options optionsIn(QString text)
{
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    static const QRegularExpression option(QStringLiteral("--[a-z][a-z0-9-]*"));
    Options found;
    for (auto it = option.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    found.remove(QStringLiteral("--help"));
    return found;
}

// The man page's sections (.SH) and subsections (.SS) by their title.
QMap<QString, QString> sections(const QString& page, const char* macro)
{
    QMap<QString, QString> out;
    QString title;
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral(".SH ")) || line.startsWith(QLatin1String(macro))) {
            title = line.mid(4)
                        .remove(QLatin1Char('"'))
                        .replace(QStringLiteral("\\-"), QStringLiteral("-"));
            continue;
        }
        if (!title.isEmpty())
            out[title] += line + QLatin1Char('\n');
    }
    return out;
}

QString sorted(const Options& options)
{
    QStringList list(options.begin(), options.end());
    list.sort();
    return list.join(QLatin1Char(' '));
}

void expectCleanRoff(const char* name)
{
    if (QStandardPaths::findExecutable(QStringLiteral("groff")).isEmpty())
        return;
    const ProgramRun run = RunProgram(
        QStringLiteral("groff"),
        {"-man", "-ww", "-z", QStringLiteral(PACKAGING_DIR "/man/") + QLatin1String(name)});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.err.isEmpty()) << name << ": " << qPrintable(run.err);
}

} // namespace

TEST(ManPage, NodewardenDocumentsEveryCommandAndOptionItHas)
{
    const QString program = QStringLiteral(NODEWARDEN_BIN);
    const QString usage = helpOf(program, {"--help"});
    const int commandsAt = usage.indexOf(QStringLiteral("\ncommands:\n"));
    ASSERT_GT(commandsAt, 0);
    const Options global = optionsIn(usage.left(commandsAt));
    QStringList commands;
    static const QRegularExpression commandLine(QStringLiteral("^  ([a-z][a-z-]*)"),
                                                QRegularExpression::MultilineOption);
    for (auto it = commandLine.globalMatch(usage.mid(commandsAt)); it.hasNext();)
        commands.append(it.next().captured(1));
    ASSERT_FALSE(commands.isEmpty());

    const QString page = readPage("nodewarden.1");
    const QMap<QString, QString> parts = sections(page, ".SS ");
    EXPECT_EQ(sorted(optionsIn(parts.value(QStringLiteral("OPTIONS")))).toStdString(),
              sorted(global).toStdString());

    QStringList documented;
    for (auto it = parts.begin(); it != parts.end(); ++it)
        if (it.key().at(0).isLower())
            documented.append(it.key().section(QLatin1Char(' '), 0, 0));
    documented.sort();
    QStringList expected = commands;
    expected.sort();
    EXPECT_EQ(documented.join(QLatin1Char(' ')).toStdString(),
              expected.join(QLatin1Char(' ')).toStdString());

    for (const QString& command : commands) {
        QString part;
        for (auto it = parts.begin(); it != parts.end(); ++it)
            if (it.key().section(QLatin1Char(' '), 0, 0) == command)
                part = it.key() + QLatin1Char('\n') + it.value();
        const Options own = optionsIn(helpOf(program, {command, "--help"})) - global;
        const Options inPage = optionsIn(part);
        EXPECT_TRUE(inPage.contains(own))
            << qPrintable(command) << ": not documented: " << qPrintable(sorted(own - inPage));
        EXPECT_TRUE((own + global).contains(inPage))
            << qPrintable(command)
            << ": documented but not in the program: " << qPrintable(sorted(inPage - own - global));
    }
    expectCleanRoff("nodewarden.1");
}

TEST(ManPage, SimulatorDocumentsEveryOptionItHas)
{
    const QString help = helpOf(QStringLiteral(KTR4200_SIM_BIN), {"--help"});
    const QMap<QString, QString> parts = sections(readPage("ktr4200-sim.1"), ".SH ");
    EXPECT_EQ(sorted(optionsIn(parts.value(QStringLiteral("OPTIONS")))).toStdString(),
              sorted(optionsIn(help)).toStdString());
    expectCleanRoff("ktr4200-sim.1");
}
