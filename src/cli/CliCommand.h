#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// A sub-command of the command-line front end ("nodewarden tftpd ...").
// Each command lives in its own file and registers itself with a static
// CliCommandRegistration, so adding a command touches no other file.
struct CliCommand
{
    QString name;     // the word after the global options
    QString synopsis; // one line for the usage text
    // Runs with the arguments after the command word; returns the exit code.
    std::function<int(const QStringList& args)> run;
};

class CliCommandRegistration
{
public:
    explicit CliCommandRegistration(CliCommand command);
};

const std::vector<CliCommand>& CliCommands();

// Global options given before the command word (e.g. --home DIR), in the order given.
// Commands read them from here.
struct CliGlobalOptions
{
    QString home;     // --home DIR, empty when not given
    int parallel = 0; // --parallel N, 0 when not given (ParallelTransfers of system.ini)
    // --interface NAME, each time given: the interfaces Discover sends out of in this run
    // instead of NimpInterface of system.ini; empty when not given.
    QStringList interfaces;
};
CliGlobalOptions& CliGlobals();
