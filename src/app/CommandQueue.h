#pragma once

#include "app/Command.h"
#include "common/VxError.h"

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class AppCore;
class VxNIMPClient;
class VxNIMPVarList;
struct VxNIMPError;

// Runs an operation: a flat list of commands for all selected devices, executed one at a time
// in order. Commands that expect a reply arm the one-shot time-out timer and hold up the queue
// until the reply handler stops it or it fires. Replies are matched to selected rows by MAC and
// write their outcome into the row's Status, Action and Retry cells.
class CommandQueue : public QObject
{
    Q_OBJECT

public:
    // Creates the NIMP client all device commands send through (raises its VxError).
    explicit CommandQueue(AppCore& core);
    ~CommandQueue() override;

    void AddCommand(uint8_t type, DeviceRow* item, int32_t time, const QStringList& params = {});
    void Append(std::unique_ptr<Command> command);
    int Count() const { return int(m_list.size()); }

    // Executes the queue until it is empty, running the event loop while commands wait.
    // An error raised by a command empties the queue and is raised again to the caller.
    void Run();
    bool IsRunning() const { return m_running; }

    // Drops every queued command, sets Retry "0" on the selected rows and stops the timer.
    void Clear();

    void StartTimer(DeviceRow* item, int32_t time);
    void StopTimer();
    void OnTimeout();
    bool Waiting() const { return m_waiting; }

    // The abort hook of the progress display: asks, and on Yes ends the operation; every
    // selected row that has not finished "OK" reads "Aborted!". Returns whether it aborted.
    bool OnProgressClose();
    // Aborts without asking (the command line's --yes).
    void Abort();

    // Executes one command now (gate, count, effect).
    void Execute(Command& command);

    qint64 DeviceCount() const { return m_deviceCount; }
    QString TftpDirectory() const { return m_tftpDirectory; }
    VxNIMPClient& Client() { return *m_client; }

signals:
    // The queue was cleared (aborted): every wait of the operation ends early.
    void cleared();
    // The armed timer was stopped or fired: the queue may go on.
    void timerStopped();

private:
    // Sleeps in the event loop for the time, or until the queue is cleared (and, when asked,
    // until the timer stops).
    void waitCentiseconds(int32_t time, bool untilTimerStops = false);
    void waitAll(const Command& command);

    // Device commands (one per type) and their reply handlers.
    void loadConfig(Command& c);
    void getVersion(Command& c);
    void setIP(Command& c);
    void transfer(Command& c);
    void verifyConfig(Command& c);
    void flash(Command& c);
    void reset(Command& c);

    void onGetVersionReply(const VxNIMPError& e);
    void onSetIPReply(const VxNIMPError& e, const QString& sentIp, const QString& sentMask);
    void onTransferReply(const VxNIMPError& e, const QString& sentFileName);
    void onFlashReply(const VxNIMPError& e, uint8_t type);
    void onResetReply(const VxNIMPError& e, uint8_t type, quint64 request);

    // The row a reply belongs to, or none (reported as an error in developer mode).
    DeviceRow* replyRow(const VxNIMPError& e);
    void sendRequest(Command& c, const VxNIMPVarList& vars, uint8_t nimpCommand, int timeout,
                     std::function<void(const VxNIMPError&)> handler);
    // A retry created by a reply handler: executed now, inside the handler.
    void retryNow(uint8_t type, DeviceRow* row, int32_t time, const QStringList& params);
    // A retry after a pause: run from the event loop, not from inside the reply's delivery, and
    // dropped when the operation has ended in the meantime.
    void retryLater(uint8_t type, DeviceRow* row, int32_t time, const QStringList& params,
                    int delayCs);
    // An error inside a reply handler or a delayed retry ends the operation like one in Execute.
    void failOperation(const VxError& error);
    void decrementRetry(DeviceRow* row);
    void stopTimerFor(const DeviceRow* row);
    bool retryLeft(DeviceRow* row) const;
    void setStatusIfPending(DeviceRow* row, const QString& status);
    void log(const QString& text);
    bool developerMode() const;

    AppCore& m_core;
    std::unique_ptr<VxNIMPClient> m_client;
    std::deque<std::unique_ptr<Command>> m_list;
    QTimer m_timer;
    QString m_tftpDirectory;
    bool m_waiting = false;
    bool m_running = false;
    bool m_shuttingDown = false;
    // Counted without wrapping: with 256 devices in the running an 8-bit count would read 0.
    qint64 m_deviceCount = 0;
    DeviceRow* m_timedItem = nullptr;
    quint64 m_generation = 0;
    std::optional<VxError> m_pendingError;
};

// The message of a failed reply without its "(VxNIMP) " tag.
QString StripNimpPrefix(const QString& message);
