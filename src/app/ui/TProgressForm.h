#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QTimer;

// Shown while an operation or a discovery runs: a bold prompt and a bar that keeps moving to
// show that the program is busy. It carries no real progress figure.
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
    // question answered No). Without a hook the window simply closes.
    void SetCloseHook(std::function<bool()> hook) { m_closeHook = std::move(hook); }
    // Closes without asking (the operation has ended).
    void CloseQuietly();

    // One step of the bar: the timer's tick.
    void ProgressTimerTimer();
    bool TimerActive() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QLabel* m_prompt;
    QProgressBar* m_bar;
    QTimer* m_timer;
    std::function<bool()> m_closeHook;
};
