// Shell completion as a user gets it: the packaged bash completion script, driven by bash with
// the built program on PATH, after a Discover of a simulated fleet on 127.0.0.1.
#include "LoopbackFleet.h"
#include "ProgramRun.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What the completion function offers for the words typed (the last one is under the cursor).
QStringList complete(const QStringList& words, const QProcessEnvironment& env)
{
    const QString script = QStringLiteral(
        "source \"$0\" || exit 3; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _nodewarden; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"");
    QStringList args = {QStringLiteral("-c"), script,
                        QStringLiteral(PACKAGING_DIR "/bash-completion/nodewarden")};
    args += words;
    const ProgramRun run = RunProgram(QStringLiteral("bash"), args, 20000, env);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    QStringList offered = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

QProcessEnvironment programOnPath()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("NODEWARDEN_HOME"));
    env.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(NODEWARDEN_BIN)).absolutePath() +
                                           QLatin1Char(':') + env.value(QStringLiteral("PATH")));
    return env;
}

} // namespace

TEST(Completion, OffersCommandsTheirOptionsAndTheMacsOfTheLastDiscover)
{
    if (QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty())
        GTEST_SKIP() << "bash is not installed";
    LoopbackFleet loopback(QuickFleetOptions(3));
    ASSERT_TRUE(loopback.started);
    QTemporaryDir home;
    LoopbackFleet::WriteSystemIni(home.path(), loopback.SystemKeys({}, {}));
    const QProcessEnvironment env = programOnPath();

    // Before any Discover there is nothing to offer after --mac.
    EXPECT_TRUE(
        complete({"nodewarden", "--home", home.path(), "upgrade", "--mac", ""}, env).isEmpty());

    const ProgramRun discover = RunNodewarden({"--home", home.path(), "discover"}, 20000, env);
    ASSERT_EQ(discover.exitCode, 0) << qPrintable(discover.err);
    const QStringList fleet = {"021A2B000001", "021A2B000002", "021A2B000003"};
    EXPECT_EQ(complete({"nodewarden", "--home", home.path(), "upgrade", "--mac", ""}, env), fleet);
    // A second MAC after the first, typed in lower case; the folder named by the environment.
    QProcessEnvironment byEnv = env;
    byEnv.insert(QStringLiteral("NODEWARDEN_HOME"), home.path());
    EXPECT_EQ(complete({"nodewarden", "set-ip", "--mac", "021A2B000001", "021a2b00000"}, byEnv),
              fleet);
    EXPECT_EQ(complete({"nodewarden", "read-config", "--mac", "021A2B000003"}, byEnv),
              QStringList{"021A2B000003"});

    // The next Discover replaces the list: no device answers any more.
    loopback.fleet.reset();
    RunNodewarden({"--home", home.path(), "discover"}, 20000, env);
    EXPECT_TRUE(
        complete({"nodewarden", "--home", home.path(), "upgrade", "--mac", ""}, env).isEmpty());

    const QStringList commands = complete({"nodewarden", ""}, env);
    for (const char* c : {"discover", "read-config", "set-ip", "tftpd", "upgrade", "write-config"})
        EXPECT_TRUE(commands.contains(QLatin1String(c))) << c;
    const QStringList writeOptions = complete({"nodewarden", "write-config", "--"}, env);
    for (const char* o : {"--all", "--file", "--mac", "--no-reset", "--no-verify", "--yes"})
        EXPECT_TRUE(writeOptions.contains(QLatin1String(o))) << o;
    // Global options belong before the command word only.
    EXPECT_FALSE(writeOptions.contains(QStringLiteral("--home")));
    EXPECT_TRUE(complete({"nodewarden", "--"}, env).contains(QStringLiteral("--home")));
}
