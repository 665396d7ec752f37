#include "app/ui/TProgressForm.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QString ProgressCaption = QStringLiteral("Progress");
const QString CancelCaption = QStringLiteral("Cancel");
} // namespace

QString DevicesFinishedText(int finished, int selected)
{
    return QStringLiteral("%1 of %2 devices finished").arg(finished).arg(selected);
}

QString ElapsedTimeText(qint64 elapsedMs)
{
    const qint64 s = std::max<qint64>(0, elapsedMs) / 1000;
    if (s < 3600)
        return QStringLiteral("Elapsed %1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("Elapsed %1:%2:%3")
        .arg(s / 3600)
        .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

TProgressForm::TProgressForm(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(ProgressCaption);
    // A close box, so that the user can ask to abort; the operation decides whether it closes.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(false);

    m_prompt = new QLabel(this);
    m_prompt->setObjectName(QStringLiteral("LB_Prompt"));
    QFont bold = m_prompt->font();
    bold.setBold(true);
    m_prompt->setFont(bold);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar"));
    m_bar->setRange(0, BarMaximum);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_step = new QLabel(this);
    m_step->setObjectName(QStringLiteral("LB_Step"));
    m_step->hide();
    m_devices = new QLabel(this);
    m_devices->setObjectName(QStringLiteral("LB_Devices"));
    m_devices->hide();
    m_elapsed = new QLabel(this);
    m_elapsed->setObjectName(QStringLiteral("LB_Elapsed"));
    m_cancel = new QPushButton(CancelCaption, this);
    m_cancel->setObjectName(QStringLiteral("BtnCancel"));
    m_cancel->setAutoDefault(false);
    m_cancel->hide();
    // The same path as the close box: the operation asks before it aborts.
    connect(m_cancel, &QPushButton::clicked, this, &QWidget::close);
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("ProgressTimer"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &TProgressForm::ProgressTimerTimer);

    auto* figures = new QHBoxLayout;
    figures->addWidget(m_devices);
    figures->addStretch(1);
    figures->addWidget(m_elapsed);
    figures->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_step);
    layout->addWidget(m_bar);
    layout->addLayout(figures);
    setFixedSize(380, 140);

    m_clock.start();
    refreshFigures();
    m_timer->start();
}

TProgressForm::~TProgressForm() = default;

void TProgressForm::SetPrompt(const QString& prompt)
{
    m_prompt->setText(prompt);
}

QString TProgressForm::Prompt() const
{
    return m_prompt->text();
}

int TProgressForm::Position() const
{
    return m_bar->value();
}

bool TProgressForm::TimerActive() const
{
    return m_timer->isActive();
}

void TProgressForm::SetCloseHook(std::function<bool()> hook)
{
    m_closeHook = std::move(hook);
    m_cancel->setVisible(bool(m_closeHook));
}

void TProgressForm::SetDeviceCounter(std::function<std::pair<int, int>()> counter)
{
    m_counter = std::move(counter);
    m_devices->setVisible(bool(m_counter));
    refreshFigures();
}

void TProgressForm::SetProgressSource(std::function<OperationProgress()> source)
{
    m_source = std::move(source);
    m_step->setVisible(bool(m_source));
    // The steps move faster than the clock's seconds.
    if (m_source)
        m_timer->setInterval(250);
    refreshFigures();
}

QString TProgressForm::StepText() const
{
    return m_step->isVisibleTo(this) ? m_step->text() : QString();
}

QString TProgressForm::DevicesText() const
{
    return m_devices->isVisibleTo(this) ? m_devices->text() : QString();
}

QString TProgressForm::ElapsedText() const
{
    return m_elapsed->text();
}

void TProgressForm::refreshFigures()
{
    m_elapsed->setText(ElapsedTimeText(m_clock.elapsed()));
    if (m_counter) {
        const auto [finished, selected] = m_counter();
        m_devices->setText(DevicesFinishedText(finished, selected));
    }
    if (m_source) {
        const OperationProgress p = m_source();
        m_step->setText(ProgressStepText(p, m_clock.elapsed()));
        if (p.total > 0) {
            m_bar->setRange(0, p.total);
            m_bar->setValue(p.done);
        }
    }
}

void TProgressForm::ProgressTimerTimer()
{
    if (m_source && m_source().total > 0) {
        refreshFigures();
        return;
    }
    const int next = m_bar->value() + 1;
    m_bar->setValue(next >= BarMaximum ? 0 : next);
    refreshFigures();
}

void TProgressForm::closeEvent(QCloseEvent* event)
{
    if (m_closeHook) {
        // The hook may run the event loop (its question); the window must outlive it.
        const auto hook = m_closeHook;
        if (!hook()) {
            event->ignore();
            return;
        }
    }
    m_timer->stop();
    event->accept();
}

void TProgressForm::reject()
{
    // Escape is the keyboard's close box.
    close();
}

void TProgressForm::CloseQuietly()
{
    m_closeHook = nullptr;
    m_counter = nullptr;
    m_timer->stop();
    hide();
}
