#pragma once

#include "app/OperationUi.h"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class AppCore;
class ConfigFileTarget;
class DataFolderLock;
struct DeviceRow;
class QSocketNotifier;
class QTimer;

// What the device commands of the command line share: option parsing, the engine set-up,
// Ctrl-C, the progress line, and the final report.

inline constexpr int ExitAllOk = 0;
inline constexpr int ExitSomeFailed = 1;
inline constexpr int ExitUsage = 2;

// A usage error: printed with the command's name, exit status 2.
struct CliUsageError
{
    QString message;
};

// Twelve upper-case hex digits from a MAC written with or without ":" or "-" in either case;
// nothing when the text is not a MAC address.
std::optional<QString> NormalizeMacText(const QString& text);

// A minimal option reader: "--name value", "--name v1 v2 ..." and flags.
class CliArgs
{
public:
    explicit CliArgs(QStringList args) : m_args(std::move(args)) {}
    bool flag(const QString& name);
    // The single value of an option; raises CliUsageError when it is missing.
    std::optional<QString> value(const QString& name);
    // Every value after each occurrence of the option, up to the next option; commas split too.
    QStringList values(const QString& name);
    // The arguments not taken yet (operands), in order; none are left afterwards.
    QStringList rest();
    // Raises CliUsageError for anything left over.
    void finish() const;

private:
    QStringList m_args;
};

// Runs one command's body: "--help" prints helpText and exits 0; a CliUsageError is printed
// with the command's name and gives exit status 2.
int RunCliCommand(const char* name, const char* helpText, const QStringList& argv,
                  const std::function<int(CliArgs& args)>& body);

// The devices a command acts on: --mac MAC... or --all.
struct CliDeviceChoice
{
    QStringList macs;
    bool all = false;

    static CliDeviceChoice Read(CliArgs& args);
    // Raises CliUsageError unless exactly one of the two forms was given with valid MACs.
    void Check() const;
};

// The engine of one command-line run: the data folder, the engine with its file-backed
// configuration target, log lines on standard error.
//
// Inside RunCliCommand the running command keeps the engine past the session's end and shuts
// it down (AppCore::Shutdown, the bounded waits of the program's end) once the command's body
// has returned; no destructor runs the event loop. Elsewhere the engine goes with the session,
// which only cancels what is outstanding.
class CliOperationUi;
class CliSession
{
public:
    explicit CliSession(bool assumeYes);
    ~CliSession();
    AppCore& core() { return *m_engine->core; }

    // Discovers, then selects the rows of the MACs given (all rows when macs is empty and
    // all is set). Raises CliUsageError for a MAC that Discover did not find.
    void DiscoverAndSelect(const QStringList& macs, bool all);

    // Before a command changes devices: on a terminal asks the question ("... [y/N]"),
    // unless --yes was given; without a terminal to ask on the answer is yes.
    bool Confirm(const QString& question);

    struct Engine
    {
        // Held from the start to the end of the run, after the engine's last waits: the
        // staged files of the data folder are this run's alone.
        std::unique_ptr<DataFolderLock> folderLock;
        std::unique_ptr<ConfigFileTarget> config;
        std::unique_ptr<AppCore> core;
        std::unique_ptr<CliOperationUi> ui;
        ~Engine();
    };

private:
    std::shared_ptr<Engine> m_engine;
};

// The progress display and the questions on a terminal. Ctrl-C while an operation runs asks
// whether to abort (or aborts at once with assumeYes or without a terminal to ask on).
class CliOperationUi : public QObject, public OperationUi
{
    Q_OBJECT

public:
    CliOperationUi(AppCore& core, bool assumeYes);
    ~CliOperationUi() override;

    void ShowProgress(const QString& caption, const QString& prompt, bool abortable) override;
    void CloseProgress() override;
    // The terminal always offers No ("[y/N]"): an empty answer declines.
    bool AskYesNo(const QString& text, const QString& caption,
                  Preset preset = Preset::Yes) override;

    // Prints a log line without tearing the progress line.
    void PrintLogLine(const QString& line);

private:
    void onInterrupt();
    void drawProgress();
    void clearProgressLine();

    AppCore& m_core;
    bool m_assumeYes;
    bool m_stderrIsTerminal;
    bool m_abortable = false;
    bool m_showing = false;
    bool m_lineDrawn = false;
    QString m_prompt;
    QElapsedTimer m_clock; // since the progress line was shown
    QTimer* m_progressTimer = nullptr;
    QSocketNotifier* m_interruptNotifier = nullptr;
    // While a question waits for its answer: a second Ctrl-C answers it with Yes.
    std::optional<bool>* m_pendingAnswer = nullptr;
};

// Prints one line per selected row with its final Status, or (json) one JSON array of the
// selected rows on standard output; returns 0 when every selected row reads "OK", else 1.
int ReportSelectedRows(AppCore& core, bool json);
// The text, or null where there is none (held false), for JSON output.
QJsonValue JsonTextOrNull(const QString& text, bool held);
// After a Discover that no device answered: where its requests went and the usual causes.
void PrintNoAnswerHelp(const AppCore& core, const char* command);
// Says so on standard error and returns true when Discover selected no device.
bool NoDeviceSelected(AppCore& core, const char* command);
// Says on standard error that nothing was sent, and gives the exit status of a refused start.
int NotConfirmed(const char* command);
// The value of an option that takes a whole number of at least `least`, nothing when it is not
// given; raises CliUsageError for anything else.
std::optional<int> CliCount(CliArgs& args, const char* option, int least);
