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
inline ProgramRun
RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
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
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    return RunProgram(QStringLiteral(NODEWARDEN_BIN), args, timeoutMs, env);
}

#endif
