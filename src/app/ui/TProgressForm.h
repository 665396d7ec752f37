#pragma once

#include "app/OperationSummary.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>
#include <utility>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// Shown while an operation or a discovery runs: a bold prompt and a bar that keeps moving to
// show that the program is busy, the time the operation has taken and, for an operation on
// devices, how many of them have finished and a Cancel button.
class TProgressForm : public QDialog
{
    Q_OBJECT

public:
    static constexpr int BarMaximum = 76;

    explicit TProgressForm(QWidget* mainWindow);
    ~TProgressForm() override;

    void SetPrompt(const QString& prompt);
    QString Prompt() const;
    int Position() const;

    // Asked when the window is to close; returning false keeps it open (the operation's abort
    // question answered No). Without a hook the window simply closes. With a hook the window
    // shows a Cancel button that closes it the same way.
    void SetCloseHook(std::function<bool()> hook);
    // Closes without asking (the operation has ended).
    void CloseQuietly();

    // The devices finished and selected, asked once a second and shown as "3 of 50 devices
    // finished".
    void SetDeviceCounter(std::function<std::pair<int, int>()> counter);
    // Where the running list is: the step and its count, the time left, and a bar that moves
    // with the steps of all devices (instead of the endless one) once it knows them.
    void SetProgressSource(std::function<OperationProgress()> source);
    QString StepText() const;

    // One step of the bar: the timer's tick. It also refreshes the time and the count.
    void ProgressTimerTimer();
    bool TimerActive() const;

    QPushButton* CancelButton() const { return m_cancel; }
    QString DevicesText() const;
    QString ElapsedText() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void refreshFigures();

    QLabel* m_prompt;
    QProgressBar* m_bar;
    QLabel* m_devices;
    QLabel* m_step;
    std::function<OperationProgress()> m_source;
    QLabel* m_elapsed;
    QPushButton* m_cancel;
    QTimer* m_timer;
    QElapsedTimer m_clock;
    std::function<bool()> m_closeHook;
    std::function<std::pair<int, int>()> m_counter;
};

// "3 of 50 devices finished"
QString DevicesFinishedText(int finished, int selected);
// "Elapsed 0:42", "Elapsed 1:02:03"
QString ElapsedTimeText(qint64 elapsedMs);
