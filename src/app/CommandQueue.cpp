#include "app/CommandQueue.h"

#include "app/AppCore.h"
#include "app/AppErrors.h"
#include "app/DeviceListModel.h"
#include "common/Wait.h"
#include "nimp/VxNIMPClient.h"

#include <QEventLoop>

namespace {
const QString UnknownCommandText = QStringLiteral("Command Queue: Unknown command!");
const QString AbortQuestionText = QStringLiteral("Are you sure to abort the operations?");
const QString AbortQuestionCaption = QStringLiteral("Warning");
constexpr int RunPollCs = 10;
constexpr int WaitAllPollCs = 20;
} // namespace

CommandQueue::CommandQueue(AppCore& core)
    : QObject(nullptr), m_core(core), m_client(std::make_unique<VxNIMPClient>())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CommandQueue::OnTimeout);
}

CommandQueue::~CommandQueue()
{
    // The client's destructor drops its outstanding requests without calling back.
    m_shuttingDown = true;
    m_timer.stop();
    m_client.reset();
}

void CommandQueue::AddCommand(uint8_t type, DeviceRow* item, int32_t time,
                              const QStringList& params)
{
    auto c = std::make_unique<Command>();
    c->type = type;
    c->item = item;
    c->time = time;
    c->params = params;
    Append(std::move(c));
}

void CommandQueue::Append(std::unique_ptr<Command> command)
{
    m_list.push_back(std::move(command));
}

void CommandQueue::Run()
{
    if (m_running)
        throw VxError(AppErrorBusy, QStringLiteral("An operation is already running."));
    m_running = true;
    ++m_generation;
    m_pendingError.reset();
    struct Ending
    {
        CommandQueue* q;
        ~Ending() { q->m_running = false; }
    } ending{this};

    try {
        // A last command that armed the timer is waited for too, so that no time-out of this
        // operation fires after it has ended.
        while ((!m_list.empty() || m_waiting) && !m_pendingError) {
            if (m_waiting) {
                waitCentiseconds(RunPollCs, true);
                continue;
            }
            std::unique_ptr<Command> c = std::move(m_list.front());
            m_list.pop_front();
            Execute(*c);
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

void CommandQueue::Clear()
{
    m_list.clear();
    DeviceListModel& devices = m_core.Devices();
    for (DeviceRow* row : devices.SelectedRows())
        devices.SetField(row, QStringLiteral("Retry"), QStringLiteral("0"));
    StopTimer();
    // Retries waiting for their pause belong to the operation that was just dropped.
    ++m_generation;
    emit cleared();
}

void CommandQueue::StartTimer(DeviceRow* item, int32_t time)
{
    m_timer.stop();
    m_timedItem = item;
    m_waiting = true;
    m_timer.start(std::max<int32_t>(0, time) * 10);
}

void CommandQueue::StopTimer()
{
    m_timer.stop();
    m_waiting = false;
    emit timerStopped();
}

void CommandQueue::OnTimeout()
{
    if (m_timedItem)
        m_core.Devices().SetStatus(m_timedItem, QString::fromLatin1(DeviceStatus::TimeOut));
    StopTimer();
}

bool CommandQueue::OnProgressClose()
{
    if (!m_running)
        return true;
    OperationUi* ui = m_core.Ui();
    if (ui && !ui->AskYesNo(AbortQuestionText, AbortQuestionCaption))
        return false;
    Abort();
    return true;
}

void CommandQueue::Abort()
{
    if (!m_running)
        return;
    Clear();
    if (OperationUi* ui = m_core.Ui())
        ui->CloseProgress();
    DeviceListModel& devices = m_core.Devices();
    for (DeviceRow* row : devices.SelectedRows())
        if (devices.GetStatus(row) != QLatin1String(DeviceStatus::Ok))
            devices.SetStatus(row, QString::fromLatin1(DeviceStatus::Aborted));
}

void CommandQueue::waitCentiseconds(int32_t time, bool untilTimerStops)
{
    if (time <= 0)
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &CommandQueue::cleared, &loop, &QEventLoop::quit);
    if (untilTimerStops)
        connect(this, &CommandQueue::timerStopped, &loop, &QEventLoop::quit);
    deadline.start(time * 10);
    loop.exec();
}

void CommandQueue::waitAll(const Command& c)
{
    DeviceListModel& devices = m_core.Devices();
    const QString status = c.params.value(0);
    const quint64 generation = m_generation;
    StartTimer(nullptr, c.time);
    for (;;) {
        waitCentiseconds(WaitAllPollCs);
        if (generation != m_generation)
            return; // the operation was cleared (aborted) meanwhile
        bool any = false;
        for (DeviceRow* row : devices.SelectedRows())
            if (devices.GetStatus(row) == status) {
                any = true;
                break;
            }
        if (!any) {
            StopTimer();
            return;
        }
        if (!m_waiting)
            break;
    }
    for (DeviceRow* row : devices.SelectedRows())
        if (devices.GetStatus(row) == status)
            devices.SetStatus(row, QString::fromLatin1(DeviceStatus::TimeOut));
}

void CommandQueue::Execute(Command& c)
{
    DeviceListModel& devices = m_core.Devices();
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
        bool ok = false;
        const qint64 n = c.params.value(0).toLongLong(&ok);
        if (ok && n == m_deviceCount)
            Clear();
        return;
    }
    case cmdSetStatusIf:
        if (devices.GetStatus(c.item) == c.params.value(0))
            devices.SetStatus(c.item, c.params.value(1));
        return;
    default:
        break;
    }

    if (!c.item || devices.GetStatus(c.item) != QLatin1String(DeviceStatus::InRunning))
        return;
    ++m_deviceCount;
    switch (c.type) {
    case cmdLoadConfig:
        loadConfig(c);
        return;
    case cmdSetRetry:
        devices.SetField(c.item, QStringLiteral("Retry"), c.params.value(0));
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

void CommandQueue::retryNow(uint8_t type, DeviceRow* row, int32_t time, const QStringList& params)
{
    Command retry;
    retry.type = type;
    retry.item = row;
    retry.time = time;
    retry.params = params;
    Execute(retry);
}

void CommandQueue::retryLater(uint8_t type, DeviceRow* row, int32_t time, const QStringList& params,
                              int delayCs)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(delayCs * 10, this, [this, generation, type, row, time, params] {
        if (!m_running || m_shuttingDown || generation != m_generation)
            return;
        try {
            retryNow(type, row, time, params);
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
        m_core.ReportError(error);
    }
}

QString StripNimpPrefix(const QString& message)
{
    if (message.contains(QLatin1String("(VxNIMP) ")))
        return message.mid(9);
    return message;
}
