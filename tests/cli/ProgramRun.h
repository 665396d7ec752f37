#pragma once

#include "TestHelpers.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// What a run of a program left behind.
struct ProgramRun
{
    int exitCode = -1; // -1: did not start, did not end in time, or crashed
    QByteArray rawOut;
    QByteArray rawErr;
    QString out; // the same, as UTF-8 text
    QString err;
};

// Runs a program with args to its end (bounded by timeoutMs), with the event loop turning
// meanwhile, so that a simulated fleet in the test's own process answers.
// childSetup, when given, runs in the child before the program starts (async-signal-safe
// calls only).
inline ProgramRun
RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
           const std::function<void()>& childSetup = {})
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(program, args);
    ProgramRun run;
    if (!p.waitForStarted(10000))
        return run;
    if (!WaitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.rawOut = p.readAllStandardOutput();
    run.rawErr = p.readAllStandardError();
    run.out = QString::fromUtf8(run.rawOut);
    run.err = QString::fromUtf8(run.rawErr);
    return run;
}

#ifdef NODEWARDEN_BIN

// Runs the built nodewarden.
inline ProgramRun
RunNodewarden(const QStringList& args, int timeoutMs = 120000,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
              const std::function<void()>& childSetup = {})
{
    return RunProgram(QStringLiteral(NODEWARDEN_BIN), args, timeoutMs, env, childSetup);
}

// Runs the built nodewarden on a disk that takes at most `bytes` in any one file: a longer
// write fails as on a full disk.
inline ProgramRun RunNodewardenOnAFullDisk(const QStringList& args, rlim_t bytes)
{
    return RunNodewarden(args, 120000, QProcessEnvironment::systemEnvironment(), [bytes] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    });
}

#endif
