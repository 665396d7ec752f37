#pragma once

#include "app/Command.h"
#include "app/DeviceListModel.h"
#include "app/OperationSummary.h"
#include "common/VxError.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QueueHost;
class VxNIMPClient;
class VxNIMPVarList;
struct VxNIMPError;

// Runs an operation: a flat list of commands for all selected devices. Commands run in list
// order; a command that expects a reply (Get Version and the three transfers) holds its row
// until the reply or its own deadline, and holds the queue only while `ParallelTransfers` rows
// are held. A later command of a held row waits for the hold; commands of other rows go on
// meanwhile, and the commands without a row (waits, counts) wait until nothing is held. With
// ParallelTransfers 1 every request goes out in the order and at the point of the list it
// always did. Replies come back to the row their request was sent for and write their outcome
// into the row's typed state, from which the Status, Action and Retry cells are derived.
class CommandQueue : public QObject
{
    Q_OBJECT

public:
    // Creates the NIMP client all device commands send through (raises its VxError).
    explicit CommandQueue(QueueHost& host);
    ~CommandQueue() override;

    void AddCommand(uint8_t type, DeviceRow* item, int32_t time, const QStringList& params = {});
    void Append(std::unique_ptr<Command> command);
    int Count() const { return int(m_list.size()); }

    // Executes the queue until it is empty and nothing is held, running the event loop while
    // commands wait. An error raised by a command empties the queue and is raised again to the
    // caller.
    void Run();
    bool IsRunning() const { return m_running; }

    // Drops every queued command, sets Retry "0" on the selected rows and clears every hold
    // and its deadline.
    void Clear();

    // Holds the row until StopTimer(row) or until time (centiseconds) has passed; then its
    // Status reads "-Time Out-". A new hold of the same row replaces the deadline.
    void StartTimer(DeviceRow* item, int32_t time, const QString& bound = QString());
    void StopTimer(DeviceRow* item);
    // Marks every row whose deadline has passed "-Time Out-" and releases it.
    void OnTimeout();
    // Whether any row is held.
    bool Waiting() const { return !m_holds.isEmpty(); }
    int HeldCount() const { return int(m_holds.size()); }
    // The most rows held at once in the last (or current) run.
    int PeakHeldCount() const { return m_peakHeld; }

    // How far the running list is (see OperationProgress).
    OperationProgress CurrentProgress() const { return m_progress; }

    // The abort hook of the progress display: asks, and on Yes ends the operation; every
    // selected row that has not finished "OK" reads "Aborted!". Returns whether it aborted.
    bool OnProgressClose();
    // Aborts without asking (the command line's --yes, a signal).
    void Abort();

    // Executes one command now (gate, count, effect).
    void Execute(Command& command);

    qint64 DeviceCount() const { return m_deviceCount; }
    VxNIMPClient& Client() { return *m_client; }

signals:
    // The queue was cleared (aborted): every wait of the operation ends early.
    void cleared();
    // A hold ended (reply, deadline or clear): the queue may go on.
    void holdReleased();

private:
    struct Hold
    {
        int64_t deadline = 0; // monotonic milliseconds
        QString bound;        // what the deadline is made of
    };

    // Starts every command that may start now; false when none could.
    bool startReady();
    bool holdsQueue(const Command& c) const;
    int parallelLimit() const;
    // Sleeps in the event loop for the time, or until the queue is cleared (and, when asked,
    // until a hold ends).
    void waitCentiseconds(int32_t time, bool untilHoldReleased = false);
    void waitAll(const Command& command);
    void armDeadlineTimer();

    // Device commands (one per type) and their reply handlers.
    void loadConfig(Command& c);
    void getVersion(Command& c);
    void setIP(Command& c);
    void transfer(Command& c);
    void verifyConfig(Command& c);
    void flash(Command& c);
    void reset(Command& c);

    void onGetVersionReply(DeviceRow* row, const VxNIMPError& e, const VxNIMPVarList& vars);
    void onSetIPReply(DeviceRow* row, const VxNIMPError& e, const QString& sentIp,
                      const QString& sentMask);
    void onTransferReply(DeviceRow* row, const VxNIMPError& e, uint8_t type,
                         const QString& sentPath, quint64 request, const QString& bound);
    void onFlashReply(DeviceRow* row, const VxNIMPError& e, uint8_t type);
    void onResetReply(DeviceRow* row, const VxNIMPError& e, uint8_t type, quint64 request);

    using ReplyHandler = std::function<void(DeviceRow*, const VxNIMPError&, const VxNIMPVarList&)>;
    // Sends the command's request; the handler gets the row the request was sent for (none
    // when the list was cleared since, or the row is no longer selected).
    void sendRequest(Command& c, const VxNIMPVarList& vars, uint8_t nimpCommand, int timeout,
                     ReplyHandler handler);
    // A retry created by a reply handler, after a pause (0: at once): run from the event loop,
    // not from inside the reply's delivery, and dropped when the operation has ended in the
    // meantime.
    void retryLater(Command retry, int delayCs);
    // Whether the row's Status is this one (a row without the cell has the empty one).
    bool hasStatus(const DeviceRow* row, const StatusValue& status) const;
    // A row ends with a time-out: its Status, and the step and settings in its job.
    void timeOut(DeviceRow* row, const QString& bound);
    // Between two waves: more failed devices than the command allows end the list, and the
    // devices that were not started end "Aborted!" with why.
    void stopAfterWave(const Command& c);
    // An error inside a reply handler or a delayed retry ends the operation like one in Execute.
    void failOperation(const VxError& error);
    void decrementRetry(DeviceRow* row);
    bool retryLeft(const DeviceRow* row) const;
    void setStateIfPending(DeviceRow* row, DeviceState state);
    void setStatusIfPending(DeviceRow* row, const QString& status);
    // A row that reads "Aborted!" keeps what it shows: late replies only log.
    bool frozen(const DeviceRow* row) const;
    QString macOf(const DeviceRow* row) const;
    void log(const QString& text);
    bool developerMode() const;

    QueueHost& m_host;
    std::unique_ptr<VxNIMPClient> m_client;
    std::deque<std::unique_ptr<Command>> m_list;
    QHash<DeviceRow*, Hold> m_holds;
    QTimer m_deadlineTimer;
    bool m_running = false;
    bool m_shuttingDown = false;
    // Counted without wrapping: with 256 devices in the running an 8-bit count would read 0.
    qint64 m_deviceCount = 0;
    quint64 m_generation = 0;
    int m_peakHeld = 0;
    std::optional<VxError> m_pendingError;
    // Counts a command that starts into the progress; a wait starts the next step's counts.
    void noteProgress(const Command& c);
    void countSegment();
    OperationProgress m_progress;
    std::map<uint8_t, std::pair<int, int>> m_segment; // per kind: done, total up to the next wait
};

// The message of a failed reply without its "(VxNIMP) " tag.
QString StripNimpPrefix(const QString& message);
