#pragma once

#include "TestHelpers.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

struct ProgramRun
{
    int exitCode = -1; // -1: did not start, crashed or was killed at the time limit
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end with the event loop going, so that a simulated fleet in this process
// answers meanwhile (bounded by timeoutMs).
inline ProgramRun
RunProgram(const QString& program, const QStringList& args,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForStarted(5000))
        return r;
    if (!WaitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
