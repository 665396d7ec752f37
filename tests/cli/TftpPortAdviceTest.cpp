// A console that may not bind the TFTP port says why and what to do, as an administrator meets
// it: the program run as an unprivileged user, with the devices' port 69.
#include "app/TftpPortAdvice.h"

#include "LoopbackFleet.h"
#include "ProgramRun.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(TftpPortAdvice, ReadConfigWithoutTheCapabilityNamesTheCommandAndTheSetting)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (::geteuid() != 0 || setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as an unprivileged user";
    LoopbackFleet loopback(QuickFleetOptions(1));
    ASSERT_TRUE(loopback.started);
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    LoopbackFleet::WriteSystemIni(home, loopback.SystemKeys({}, {{"TftpPort", "69"}}));
    // A copy of the program and a data folder that the unprivileged user can reach.
    const QString program = dir.filePath(QStringLiteral("nodewarden"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(NODEWARDEN_BIN), program));
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                      QFile::ExeOther;
    for (const QString& path : {dir.path(), home, home + QStringLiteral("/Config"),
                                home + QStringLiteral("/Config/Temp"), program})
        QFile::setPermissions(path, open);
    QFile::setPermissions(home + QStringLiteral("/system.ini"), open);

    const ProgramRun run = RunProgram(
        setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all",
                  "--bounding-set=-net_bind_service", program, "--home", home, "read-config",
                  "--mac", "021A2B000001", "--output", dir.filePath(QStringLiteral("out.cfg"))});
    EXPECT_EQ(run.exitCode, 1);
    const QString& err = run.err;
    EXPECT_TRUE(err.contains(QStringLiteral("CAP_NET_BIND_SERVICE"))) << qPrintable(err);
    EXPECT_TRUE(err.contains(BindCapabilityCommand(program))) << qPrintable(err);
    EXPECT_TRUE(err.contains(QStringLiteral("TftpPort in the [System] section of ") + home +
                             QStringLiteral("/system.ini")))
        << qPrintable(err);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("out.cfg"))));
}
