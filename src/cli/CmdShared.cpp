#include "cli/CmdShared.h"

#include "app/AppCore.h"
#include "app/CommandQueue.h"
#include "app/DataFolderLock.h"
#include "app/DeviceListExport.h"
#include "app/DeviceListModel.h"
#include "cli/CliCommand.h"
#include "common/MacAddress.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "config/ConfigFileTarget.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Ctrl-C reaches the event loop through a socket pair: the handler only writes one byte.
int g_interruptFds[2] = {-1, -1};

// The byte tells Ctrl-C (asks) from SIGTERM (aborts at once, as Ctrl-C does with --yes).
constexpr char InterruptByte = 1;
constexpr char TerminateByte = 2;

void onSignal(int signal)
{
    const char byte = signal == SIGTERM ? TerminateByte : InterruptByte;
    if (g_interruptFds[0] >= 0) {
        const ssize_t n = ::write(g_interruptFds[0], &byte, 1);
        (void)n;
    }
}


// The engines of the sessions the running command opened (see RunCliCommand).
std::vector<std::shared_ptr<CliSession::Engine>>* g_commandEngines = nullptr;

// Runs the event loop: the program's end for every engine the command opened.
void shutDownEngines(std::vector<std::shared_ptr<CliSession::Engine>>& engines)
{
    for (const auto& engine : engines)
        engine->core->Shutdown();
    engines.clear();
}

} // namespace

std::optional<QString> NormalizeMacText(const QString& text)
{
    QString mac = text.trimmed();
    mac.remove(QLatin1Char(':'));
    mac.remove(QLatin1Char('-'));
    const std::optional<MacAddress> parsed = MacAddress::Parse(mac);
    if (!parsed)
        return std::nullopt;
    return parsed->ToString();
}

bool CliArgs::flag(const QString& name)
{
    const int at = m_args.indexOf(name);
    if (at < 0)
        return false;
    m_args.removeAt(at);
    return true;
}

std::optional<QString> CliArgs::value(const QString& name)
{
    const int at = m_args.indexOf(name);
    if (at < 0)
        return std::nullopt;
    if (at + 1 >= m_args.size() || m_args.at(at + 1).startsWith(QLatin1String("--")))
        throw CliUsageError{name + QStringLiteral(" needs a value")};
    const QString v = m_args.at(at + 1);
    m_args.remove(at, 2);
    if (m_args.contains(name))
        throw CliUsageError{name + QStringLiteral(" is given more than once")};
    return v;
}

QStringList CliArgs::values(const QString& name)
{
    QStringList out;
    for (int at = m_args.indexOf(name); at >= 0; at = m_args.indexOf(name)) {
        m_args.removeAt(at);
        int taken = 0;
        while (at < m_args.size() && !m_args.at(at).startsWith(QLatin1String("--"))) {
            for (const QString& part : m_args.at(at).split(QLatin1Char(','), Qt::SkipEmptyParts))
                out.append(part);
            m_args.removeAt(at);
            ++taken;
        }
        if (taken == 0)
            throw CliUsageError{name + QStringLiteral(" needs a value")};
    }
    return out;
}

QStringList CliArgs::rest()
{
    return std::exchange(m_args, {});
}

void CliArgs::finish() const
{
    if (!m_args.isEmpty())
        throw CliUsageError{QStringLiteral("unexpected argument '%1'").arg(m_args.first())};
}

CliSession::CliSession(bool assumeYes) : m_engine(std::make_shared<Engine>())
{
    const QString folder = ResolveDataFolder(CliGlobals().home);
    PrepareDataFolder(folder);
    Engine& e = *m_engine;
    e.folderLock = std::make_unique<DataFolderLock>(folder);
    if (QString error; !e.folderLock->TryLock(&error))
        throw VxError(AppErrorDataFolderInUse, error);
    e.core = std::make_unique<AppCore>(folder);
    if (CliGlobals().parallel > 0)
        e.core->MutableSettings().parallelTransfers = CliGlobals().parallel;
    if (!CliGlobals().interfaces.isEmpty())
        e.core->MutableSettings().nimpInterfaces = CliGlobals().interfaces;
    e.ui = std::make_unique<CliOperationUi>(*e.core, assumeYes);
    // Lines logged while the engine started (settings that were ignored) come first.
    for (const QString& line : e.core->Log().Lines())
        e.ui->PrintLogLine(line);
    QObject::connect(&e.core->Log(), &ActionLog::lineAdded, e.ui.get(),
                     &CliOperationUi::PrintLogLine);
    e.config = std::make_unique<ConfigFileTarget>();
    e.config->SetDeveloperMode(e.core->Settings().developerMode);
    AppCore* core = e.core.get();
    e.config->SetLog([core](const QString& line) { core->LogAction(line); });
    e.core->SetConfig(e.config.get());
    e.core->SetUi(e.ui.get());
    if (g_commandEngines)
        g_commandEngines->push_back(m_engine);
}

CliSession::~CliSession() = default;

CliSession::Engine::~Engine()
{
    if (core) {
        core->SetUi(nullptr);
        core->SetConfig(nullptr);
    }
    ui.reset();
    core.reset();
}

bool CliSession::Confirm(const QString& question)
{
    return m_engine->ui->AskYesNo(EscapeUntrusted(question), QString());
}

int NotConfirmed(const char* command)
{
    std::fprintf(stderr, "nodewarden %s: not confirmed; nothing was sent to the devices\n", command);
    return ExitSomeFailed;
}

std::optional<int> CliCount(CliArgs& args, const char* option, int least)
{
    const std::optional<QString> text = args.value(QString::fromLatin1(option));
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int value = text->toInt(&ok, 10);
    if (!ok || value < least)
        throw CliUsageError{QStringLiteral("%1 needs a whole number of at least %2, not '%3'")
                                .arg(QString::fromLatin1(option))
                                .arg(least)
                                .arg(*text)};
    return value;
}

void CliSession::DiscoverAndSelect(const QStringList& macs, bool all)
{
    QStringList wanted;
    for (const QString& text : macs) {
        const std::optional<QString> mac = NormalizeMacText(text);
        if (!mac)
            throw CliUsageError{QStringLiteral("'%1' is not a MAC address").arg(text)};
        if (!wanted.contains(*mac))
            wanted.append(*mac);
    }
    AppCore& c = core();
    c.Discover();
    if (!c.StatusText().isEmpty())
        std::fprintf(stderr, "nodewarden: %s\n", qPrintable(c.StatusText()));
    DeviceListModel& devices = c.Devices();
    if (devices.Count() == 0 && c.StatusText().isEmpty())
        PrintNoAnswerHelp(c, "discover");
    if (all) {
        devices.SelectAll();
        // A MAC another host claims is left out, and said so.
        for (DeviceRow* row : devices.SelectedRows())
            if (!row->conflict.isEmpty()) {
                devices.SetSelected(row, false);
                std::fprintf(stderr, "nodewarden: skipped: %s\n", qPrintable(row->conflict));
            }
        return;
    }
    QStringList missing;
    QStringList conflicts;
    for (const QString& mac : wanted) {
        DeviceRow* found = devices.FindByMac(mac);
        if (found && !found->conflict.isEmpty())
            conflicts.append(found->conflict);
        else if (found)
            devices.SetSelected(found, true);
        else
            missing.append(mac);
    }
    if (!missing.isEmpty())
        throw CliUsageError{
            QStringLiteral("not found by Discover: %1 (nothing was sent to any device)")
                .arg(missing.join(QStringLiteral(", ")))};
    if (!conflicts.isEmpty())
        throw CliUsageError{QStringLiteral("nothing was sent to any device: %1")
                                .arg(conflicts.join(QStringLiteral("; ")))};
}

CliOperationUi::CliOperationUi(AppCore& core, bool assumeYes)
    : m_core(core), m_assumeYes(assumeYes), m_stderrIsTerminal(::isatty(STDERR_FILENO) == 1)
{
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(250);
    connect(m_progressTimer, &QTimer::timeout, this, &CliOperationUi::drawProgress);
}

CliOperationUi::~CliOperationUi()
{
    CloseProgress();
}

void CliOperationUi::ShowProgress(const QString& caption, const QString& prompt, bool abortable)
{
    Q_UNUSED(caption);
    CloseProgress();
    m_prompt = prompt;
    m_showing = true;
    m_abortable = abortable;
    m_clock.start();
    if (abortable && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_interruptFds) == 0) {
        m_interruptNotifier = new QSocketNotifier(g_interruptFds[1], QSocketNotifier::Read, this);
        connect(m_interruptNotifier, &QSocketNotifier::activated, this,
                &CliOperationUi::onInterrupt);
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
    }
    if (m_stderrIsTerminal) {
        drawProgress();
        m_progressTimer->start();
    }
}

void CliOperationUi::CloseProgress()
{
    if (!m_showing)
        return;
    m_showing = false;
    m_progressTimer->stop();
    clearProgressLine();
    if (m_interruptNotifier) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        delete m_interruptNotifier;
        m_interruptNotifier = nullptr;
        ::close(g_interruptFds[0]);
        ::close(g_interruptFds[1]);
        g_interruptFds[0] = g_interruptFds[1] = -1;
    }
}

void CliOperationUi::onInterrupt()
{
    char buffer[16];
    const ssize_t n = ::read(g_interruptFds[1], buffer, sizeof buffer);
    const bool terminate = n > 0 && std::memchr(buffer, TerminateByte, size_t(n)) != nullptr;
    if (m_pendingAnswer && !terminate) {
        *m_pendingAnswer = true;
        return;
    }
    if (!m_showing || !m_abortable)
        return;
    if (terminate || m_assumeYes || ::isatty(STDIN_FILENO) != 1) {
        clearProgressLine();
        std::fputs(terminate ? "nodewarden: terminated, aborting\n" : "nodewarden: aborting\n",
                   stderr);
        m_core.Queue().Abort();
        return;
    }
    m_core.Queue().OnProgressClose();
}

bool CliOperationUi::AskYesNo(const QString& text, const QString& caption, Preset)
{
    if (m_assumeYes)
        return true;
    if (::isatty(STDIN_FILENO) != 1)
        return true; // nobody to ask: the user's Ctrl-C stands
    clearProgressLine();
    if (caption.isEmpty())
        std::fprintf(stderr, "%s [y/N] ", qPrintable(text));
    else
        std::fprintf(stderr, "%s: %s [y/N] ", qPrintable(caption), qPrintable(text));
    std::fflush(stderr);

    // Waits for the answer with the event loop running, so the operation goes on meanwhile.
    std::optional<bool> answer;
    m_pendingAnswer = &answer;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QEventLoop loop;
    QByteArray line;
    connect(&input, &QSocketNotifier::activated, &loop, [&] {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) {
            answer = false;
        } else if (c == '\n') {
            const QByteArray t = line.trimmed().toLower();
            answer = t == "y" || t == "yes";
        } else {
            line.append(c);
        }
        if (answer)
            loop.quit();
    });
    QTimer poll;
    // A second Ctrl-C sets the answer from the interrupt handler; the poll notices it.
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (answer)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    m_pendingAnswer = nullptr;
    if (line.isEmpty() && answer.value_or(false))
        std::fputs("\n", stderr);
    return answer.value_or(false);
}

void CliOperationUi::PrintLogLine(const QString& line)
{
    clearProgressLine();
    std::fprintf(stderr, "%s\n", qPrintable(EscapeUntrusted(line)));
    std::fflush(stderr);
}

void CliOperationUi::clearProgressLine()
{
    if (m_lineDrawn) {
        std::fputs("\r\033[K", stderr);
        m_lineDrawn = false;
    }
}

void CliOperationUi::drawProgress()
{
    if (!m_showing || !m_stderrIsTerminal)
        return;
    DeviceListModel& devices = m_core.Devices();
    QString text;
    if (!m_abortable) {
        text = QStringLiteral("%1 %2 found").arg(m_prompt).arg(devices.Count());
    } else {
        int ok = 0, running = 0, failed = 0;
        const QList<DeviceRow*> rows = devices.SelectedRows();
        for (DeviceRow* row : rows) {
            const DeviceOutcome outcome = devices.Outcome(row);
            if (outcome == DeviceOutcome::Ok)
                ++ok;
            else if (outcome == DeviceOutcome::Running)
                ++running;
            else
                ++failed;
        }
        // The step the list is in, then the devices' outcomes.
        const QString step =
            ProgressStepText(m_core.Queue().CurrentProgress(), m_clock.elapsed());
        text = QStringLiteral("%1 %2 of %3 devices: %4 OK, %5 running, %6 failed (Ctrl-C to abort)")
                   .arg(step.isEmpty() ? m_prompt : m_prompt + QLatin1Char(' ') + step + QLatin1Char(';'))
                   .arg(ok + failed)
                   .arg(rows.size())
                   .arg(ok)
                   .arg(running)
                   .arg(failed);
    }
    std::fprintf(stderr, "\r\033[K%s", qPrintable(text));
    std::fflush(stderr);
    m_lineDrawn = true;
}

int ReportSelectedRows(AppCore& core, bool json)
{
    DeviceListModel& devices = core.Devices();
    const QList<DeviceRow*> rows = devices.SelectedRows();
    bool allOk = !rows.isEmpty();
    for (DeviceRow* row : rows)
        allOk = allOk && devices.State(row) == DeviceState::Ok;
    if (json) {
        std::fputs(DeviceRowsToJson(devices, rows).constData(), stdout);
    } else {
        for (DeviceRow* row : rows)
            std::printf(
                "%s  %-15s  %s\n",
                qPrintable(EscapeUntrusted(DeviceListModel::MacText(row))),
                qPrintable(EscapeUntrusted(row->ip)),
                qPrintable(EscapeUntrusted(devices.GetStatus(row))));
    }
    std::fflush(stdout);
    return allOk ? ExitAllOk : ExitSomeFailed;
}

int RunCliCommand(const char* name, const char* helpText, const QStringList& argv,
                  const std::function<int(CliArgs& args)>& body)
{
    std::vector<std::shared_ptr<CliSession::Engine>> engines;
    struct Scope
    {
        decltype(g_commandEngines) previous;
        ~Scope() { g_commandEngines = previous; }
    } scope{g_commandEngines};
    g_commandEngines = &engines;

    int status = ExitAllOk;
    try {
        CliArgs args(argv);
        if (args.flag(QStringLiteral("--help")) || args.flag(QStringLiteral("-h"))) {
            std::fputs(helpText, stdout);
            return ExitAllOk;
        }
        status = body(args);
    } catch (const CliUsageError& e) {
        std::fprintf(stderr, "nodewarden %s: %s\n(see nodewarden %s --help)\n", name,
                     qPrintable(e.message), name);
        status = ExitUsage;
    } catch (...) {
        shutDownEngines(engines);
        throw;
    }
    shutDownEngines(engines);
    return status;
}

CliDeviceChoice CliDeviceChoice::Read(CliArgs& args)
{
    CliDeviceChoice choice;
    choice.all = args.flag(QStringLiteral("--all"));
    choice.macs = args.values(QStringLiteral("--mac"));
    return choice;
}

void CliDeviceChoice::Check() const
{
    if (all == !macs.isEmpty())
        throw CliUsageError{QStringLiteral("give either --mac MAC... or --all")};
    for (const QString& m : macs)
        if (!NormalizeMacText(m))
            throw CliUsageError{QStringLiteral("'%1' is not a MAC address").arg(m)};
}

QJsonValue JsonTextOrNull(const QString& text, bool held)
{
    return held ? QJsonValue(text) : QJsonValue(QJsonValue::Null);
}

void PrintNoAnswerHelp(const AppCore& core, const char* command)
{
    std::fprintf(stderr, "nodewarden %s: no device answered\n", command);
    for (const QString& route : core.DiscoverRoutes())
        std::fprintf(stderr, "  requests went %s\n", qPrintable(route));
    const AppSettings& s = core.Settings();
    std::fprintf(stderr,
                 "  usual causes: a firewall here or on the way drops UDP port %u or the replies;\n"
                 "  NimpAddress and NimpPort in %s are not where the devices listen;\n"
                 "  the devices are on another LAN segment (a broadcast does not cross a router:\n"
                 "  choose the interface with --interface NAME, or set NimpAddress to their\n"
                 "  subnet's broadcast address)\n",
                 unsigned(s.nimpPort), qPrintable(QDir::toNativeSeparators(core.SettingsPath())));
}

bool NoDeviceSelected(AppCore& core, const char* command)
{
    if (core.Devices().SelectedCount() != 0)
        return false;
    std::fprintf(stderr, "nodewarden %s: no device found\n", command);
    return true;
}
