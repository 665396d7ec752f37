#include "app/ui/TProgressForm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const QString ProgressCaption = QStringLiteral("Progress");
}

TProgressForm::TProgressForm(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(ProgressCaption);
    // A close box, so that the user can ask to abort; the operation decides whether it closes.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
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
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("ProgressTimer"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &TProgressForm::ProgressTimerTimer);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_bar);
    setFixedSize(360, 90);

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

void TProgressForm::ProgressTimerTimer()
{
    const int next = m_bar->value() + 1;
    m_bar->setValue(next >= BarMaximum ? 0 : next);
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
    m_timer->stop();
    hide();
}
