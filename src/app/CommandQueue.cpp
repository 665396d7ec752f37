#include "app/CommandQueue.h"

#include "app/AppSettings.h"
#include "app/DeviceFiles.h"
#include "app/OperationUi.h"
#include "app/QueueHost.h"
#include "app/AppErrors.h"
#include "app/DeviceListModel.h"
#include "common/Wait.h"
#include "nimp/VxNIMPClient.h"

#include <QEventLoop>

#include <limits>

namespace {
const QString UnknownCommandText = QStringLiteral("Command Queue: Unknown command!");
const QString AbortQuestionText = QStringLiteral("Are you sure to abort the operations?");
const QString AbortQuestionCaption = QStringLiteral("Warning");
constexpr int WaitAllPollCs = 20;

bool isBarrier(uint8_t type)
{
    // The commands without a row act on the whole list: everything before them is done first.
    return type == cmdWait || type == cmdWaitAll || type == cmdResetCount ||
           type == cmdAbortIfCount || type == cmdStopAfterWave;
}
} // namespace

CommandQueue::CommandQueue(QueueHost& host)
    : QObject(nullptr), m_host(host), m_client(std::make_unique<VxNIMPClient>())
{
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &CommandQueue::OnTimeout);
}

CommandQueue::~CommandQueue()
{
    // The client's destructor drops its outstanding requests without calling back.
    m_shuttingDown = true;
    m_deadlineTimer.stop();
    m_client.reset();
}

void CommandQueue::AddCommand(uint8_t type, DeviceRow* item, int32_t time,
                              const QStringList& params)
{
    Append(std::make_unique<Command>(Command::Make(type, item, time, params)));
}

void CommandQueue::Append(std::unique_ptr<Command> command)
{
    m_list.push_back(std::move(command));
}

int CommandQueue::parallelLimit() const
{
    return std::clamp(m_host.Settings().parallelTransfers, 1, MaxParallelTransfers);
}

bool CommandQueue::holdsQueue(const Command& c) const
{
    switch (c.type) {
    case cmdGetVersion:
    case cmdWriteConfig:
    case cmdFirmwareDownload:
    case cmdReadConfig:
        // Only when it will run: the gate skips it on a row that is out of the running.
        return c.item && m_host.Devices().State(c.item) == DeviceState::InRunning;
    default:
        return false;
    }
}

bool CommandQueue::startReady()
{
    const int limit = parallelLimit();
    if (HeldCount() >= limit)
        return false;
    // The rows whose commands must wait: held ones. A command passed over for its row keeps
    // every later command of that row behind it, since the row stays held for the whole walk.
    for (size_t i = 0; i < m_list.size(); ++i) {
        Command& c = *m_list[i];
        if (isBarrier(c.type) || !c.item) {
            if (i != 0 || Waiting())
                return false;
        } else if (m_holds.contains(c.item)) {
            continue;
        } else if (holdsQueue(c) && HeldCount() >= limit) {
            return false;
        }
        std::unique_ptr<Command> command = std::move(m_list[i]);
        m_list.erase(m_list.begin() + std::ptrdiff_t(i));
        noteProgress(*command);
        Execute(*command);
        return true;
    }
    return false;
}

void CommandQueue::Run()
{
    if (m_running)
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    m_running = true;
    ++m_generation;
    m_peakHeld = 0;
    m_pendingError.reset();
    // A run starts every device in it with a clean record of where it ends and why.
    for (DeviceRow* row : m_host.Devices().SelectedRows()) {
        row->job.lastCommand = 0;
        // A row the list left out before it began keeps why.
        if (m_host.Devices().State(row) != DeviceState::InRunning)
            continue;
        row->job.reason.clear();
        row->job.bound.clear();
        row->job.milestone = DeviceMilestone::None;
        row->job.transfer = DeviceTransfer();
    }
    // However the run ends, nothing is served any more and the TFTP server stops listening.
    struct Ending
    {
        CommandQueue* q;
        ~Ending()
        {
            q->m_running = false;
            q->m_host.Files().EndAllServing();
        }
    } ending{this};

    m_progress = OperationProgress();
    for (const auto& c : m_list)
        m_progress.total += c->item && IsDeviceStep(c->type);
    countSegment();
    try {
        // A last command that holds its row is waited for too, so that no deadline of this
        // operation passes after it has ended.
        while ((!m_list.empty() || Waiting()) && !m_pendingError) {
            if (!startReady())
                waitCentiseconds(std::numeric_limits<int32_t>::max() / 10, true);
        }
    } catch (const VxError&) {
        // Commands left behind would otherwise run first in the next operation.
        Clear();
        throw;
    }
    if (m_pendingError) {
        const VxError e = *m_pendingError;
        m_pendingError.reset();
        throw e;
    }
}

void CommandQueue::countSegment()
{
    m_segment.clear();
    for (const auto& c : m_list) {
        if (isBarrier(c->type) || !c->item)
            break;
        if (IsDeviceStep(c->type))
            ++m_segment[c->type].second;
    }
}

void CommandQueue::noteProgress(const Command& c)
{
    if (isBarrier(c.type) || !c.item) {
        countSegment();
        return;
    }
    if (!IsDeviceStep(c.type))
        return;
    // A retry runs its command again: it is no further step.
    m_progress.done = std::min(m_progress.done + 1, m_progress.total);
    auto& [done, total] = m_segment[c.type];
    done = std::min(done + 1, std::max(total, 1));
    m_progress.stepType = c.type;
    m_progress.stepDone = done;
    m_progress.stepTotal = std::max(total, done);
}

void CommandQueue::Clear()
{
    m_list.clear();
    DeviceListModel& devices = m_host.Devices();
    for (DeviceRow* row : devices.SelectedRows())
        devices.SetRetries(row, 0);
    m_holds.clear();
    m_deadlineTimer.stop();
    m_host.Files().EndAllServing();
    // Retries waiting for their pause belong to the operation that was just dropped.
    ++m_generation;
    emit cleared();
    emit holdReleased();
}

void CommandQueue::StartTimer(DeviceRow* item, int32_t time, const QString& bound)
{
    if (!item)
        return;
    Hold& hold = m_holds[item];
    hold.deadline = TickCount() + int64_t(std::max<int32_t>(0, time)) * 10;
    hold.bound = bound;
    m_peakHeld = std::max(m_peakHeld, HeldCount());
    armDeadlineTimer();
}

void CommandQueue::StopTimer(DeviceRow* item)
{
    if (m_holds.remove(item) == 0)
        return;
    armDeadlineTimer();
    emit holdReleased();
}

void CommandQueue::armDeadlineTimer()
{
    if (m_holds.isEmpty()) {
        m_deadlineTimer.stop();
        return;
    }
    int64_t earliest = std::numeric_limits<int64_t>::max();
    for (const Hold& h : std::as_const(m_holds))
        earliest = std::min(earliest, h.deadline);
    m_deadlineTimer.start(int(std::clamp<int64_t>(earliest - TickCount(), 0, 24 * 3600 * 1000)));
}

void CommandQueue::OnTimeout()
{
    const int64_t now = TickCount();
    QList<DeviceRow*> expired;
    QHash<DeviceRow*, QString> bounds;
    for (auto it = m_holds.cbegin(); it != m_holds.cend(); ++it)
        if (it.value().deadline <= now) {
            expired.append(it.key());
            bounds.insert(it.key(), it.value().bound);
        }
    // In list order, so the rows time out as they were started.
    std::sort(expired.begin(), expired.end(),
              [](const DeviceRow* a, const DeviceRow* b) { return a->index < b->index; });
    for (DeviceRow* row : expired) {
        m_holds.remove(row);
        m_host.Files().EndServing(row);
        timeOut(row, bounds.value(row));
    }
    armDeadlineTimer();
    if (!expired.isEmpty())
        emit holdReleased();
}

bool CommandQueue::OnProgressClose()
{
    if (!m_running)
        return true;
    OperationUi* ui = m_host.Ui();
    // Enter or a second click on the close box must not end every device's run by accident.
    if (ui && !ui->AskYesNo(AbortQuestionText, AbortQuestionCaption, OperationUi::Preset::No))
        return false;
    Abort();
    return true;
}

void CommandQueue::Abort()
{
    if (!m_running)
        return;
    Clear();
    if (OperationUi* ui = m_host.Ui())
        ui->CloseProgress();
    DeviceListModel& devices = m_host.Devices();
    for (DeviceRow* row : devices.SelectedRows())
        if (devices.State(row) != DeviceState::Ok) {
            // A row that had already failed keeps why; the others were stopped by the operator.
            if (devices.Outcome(row) == DeviceOutcome::Running)
                row->job.reason = QStringLiteral("aborted by the operator");
            devices.SetState(row, DeviceState::Aborted);
        }
}

void CommandQueue::waitCentiseconds(int32_t time, bool untilHoldReleased)
{
    if (time <= 0)
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &CommandQueue::cleared, &loop, &QEventLoop::quit);
    if (untilHoldReleased)
        connect(this, &CommandQueue::holdReleased, &loop, &QEventLoop::quit);
    deadline.start(int(std::min<int64_t>(int64_t(time) * 10, std::numeric_limits<int>::max())));
    loop.exec();
}

void CommandQueue::waitAll(const Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    const StatusValue status = c.status;
    const quint64 generation = m_generation;
    // Its own limit: nothing else's deadline ends this wait.
    const int64_t limit = TickCount() + int64_t(std::max<int32_t>(0, c.time)) * 10;
    for (;;) {
        waitCentiseconds(WaitAllPollCs);
        if (generation != m_generation)
            return; // the operation was cleared (aborted) meanwhile
        bool any = false;
        for (DeviceRow* row : devices.SelectedRows())
            if (hasStatus(row, status)) {
                any = true;
                break;
            }
        if (!any)
            return;
        if (TickCount() >= limit)
            break;
    }
    for (DeviceRow* row : devices.SelectedRows())
        if (hasStatus(row, status))
            timeOut(row, c.bound);
}

void CommandQueue::stopAfterWave(const Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    int failed = 0;
    QList<DeviceRow*> waiting;
    for (DeviceRow* row : devices.SelectedRows()) {
        const DeviceState state = devices.State(row);
        if (state == DeviceState::InRunning && row->job.lastCommand == 0)
            waiting.append(row);
        else if (state != DeviceState::Ok && state != DeviceState::InRunning &&
                 state != DeviceState::Pending)
            ++failed;
    }
    if (failed <= c.count)
        return;
    // The devices of the later waves are left as they are: nothing was sent to them.
    const QString reason =
        QStringLiteral("not started: stopped after wave %1, %2 failed").arg(c.wave).arg(failed);
    for (DeviceRow* row : waiting) {
        devices.SetState(row, DeviceState::Aborted);
        row->job.reason = reason;
    }
    m_host.LogAction(QStringLiteral("Stopped after wave %1: %2 device(s) failed, more than %3; "
                                    "%4 device(s) not started.")
                         .arg(c.wave)
                         .arg(failed)
                         .arg(c.count)
                         .arg(waiting.size()));
    Clear();
}

void CommandQueue::timeOut(DeviceRow* row, const QString& bound)
{
    m_host.Devices().SetState(row, DeviceState::TimeOut);
    row->job.bound = bound;
    row->job.reason = bound.isEmpty() ? QStringLiteral("no answer in time")
                                      : QStringLiteral("no answer within ") + bound;
}

void CommandQueue::Execute(Command& c)
{
    DeviceListModel& devices = m_host.Devices();
    switch (c.type) {
    case cmdWait:
        waitCentiseconds(c.time);
        return;
    case cmdWaitAll:
        waitAll(c);
        return;
    case cmdResetCount:
        m_deviceCount = 0;
        return;
    case cmdAbortIfCount: {
        if (c.count != m_deviceCount)
            return;
        // In an upgrade in waves only this wave's list ends: the next wave still starts.
        const auto nextWave = std::find_if(m_list.begin(), m_list.end(), [](const auto& command) {
            return command->type == cmdStopAfterWave;
        });
        if (nextWave == m_list.end())
            Clear();
        else
            m_list.erase(m_list.begin(), nextWave);
        return;
    }
    case cmdStopAfterWave:
        stopAfterWave(c);
        return;
    case cmdSetStatusIf:
        if (hasStatus(c.item, c.status)) {
            if (c.newStatus.state == DeviceState::Other)
                devices.SetStatus(c.item, c.newStatus.text);
            else
                devices.SetState(c.item, c.newStatus.state);
        }
        return;
    default:
        break;
    }

    if (!c.item || devices.State(c.item) != DeviceState::InRunning)
        return;
    if (!c.item->conflict.isEmpty()) {
        // Whoever answers for this MAC, it is not known to be the device.
        devices.SetStatus(c.item, QString::fromLatin1(ConflictStatusText));
        c.item->job.reason = c.item->conflict;
        return;
    }
    ++m_deviceCount;
    switch (c.type) {
    case cmdLoadConfig:
        loadConfig(c);
        return;
    case cmdSetRetry:
        devices.SetRetries(c.item, c.count);
        return;
    case cmdGetVersion:
        getVersion(c);
        return;
    case cmdSetIP:
        setIP(c);
        return;
    case cmdWriteConfig:
    case cmdFirmwareDownload:
    case cmdReadConfig:
        transfer(c);
        return;
    case cmdVerifyConfig:
        verifyConfig(c);
        return;
    case cmdConfigFlash:
    case cmdFirmwareFlash:
        flash(c);
        return;
    case cmdReset:
    case cmdFactoryReset:
        reset(c);
        return;
    default:
        --m_deviceCount;
        throw VxError(AppErrorUnknownCommand, UnknownCommandText);
    }
}

bool CommandQueue::hasStatus(const DeviceRow* row, const StatusValue& status) const
{
    const DeviceListModel& devices = m_host.Devices();
    if (!row || !row->hasOperationCells)
        return status.state == DeviceState::Other && status.text.isEmpty();
    return devices.State(row) == status.state
           && (status.state != DeviceState::Other || row->statusText == status.text);
}

void CommandQueue::retryLater(Command retry, int delayCs)
{
    const quint64 generation = m_generation;
    const quint64 rowId = retry.item->id;
    retry.item = nullptr; // found again by its id: the list may be cleared meanwhile
    QTimer::singleShot(delayCs * 10, this, [this, generation, rowId, retry]() mutable {
        if (!m_running || m_shuttingDown || generation != m_generation)
            return;
        DeviceRow* row = m_host.Devices().RowById(rowId);
        if (!row)
            return;
        retry.item = row;
        try {
            Execute(retry);
        } catch (const VxError& e) {
            failOperation(e);
        }
    });
}

void CommandQueue::failOperation(const VxError& error)
{
    if (m_running) {
        Clear();
        if (!m_pendingError)
            m_pendingError = error;
    } else {
        m_host.ReportError(error);
    }
}

QString StripNimpPrefix(const QString& message)
{
    if (message.contains(QLatin1String("(VxNIMP) ")))
        return message.mid(9);
    return message;
}
