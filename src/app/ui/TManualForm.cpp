#include "app/ui/TManualForm.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString ManualCaption = QStringLiteral("nodewarden(1)");
const QString FormattingText = QStringLiteral("Formatting the manual page...");
const QString ManualFailText = QStringLiteral("The manual page cannot be shown: %1");
const QString ManualMissingText = QStringLiteral("nodewarden(1) is not installed");
constexpr int FormatTimeoutMs = 15000;
// A page of text this size is the whole manual many times over.
constexpr qint64 MaxPageBytes = 4 * 1024 * 1024;

} // namespace

TManualForm::TManualForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("ManualForm"));
    setWindowTitle(ManualCaption);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("MO_Manual"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    const QFontMetrics metrics(m_text->font());
    resize(metrics.horizontalAdvance(QLatin1Char('m')) * 84, metrics.lineSpacing() * 40);
    render();
}

TManualForm::~TManualForm()
{
    // Nothing formats for a window that is gone.
    for (QProcess* p : {m_format, m_unpack})
        if (p) {
            p->disconnect(this);
            p->kill();
            p->waitForFinished(1000);
        }
}

QString TManualForm::ManualPagePath()
{
    const QDir installed(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/man/man1"));
    QStringList candidates = {installed.filePath(QStringLiteral("nodewarden.1.gz")),
                              installed.filePath(QStringLiteral("nodewarden.1"))};
#ifdef NW_SOURCE_MAN_PAGE
    candidates.append(QStringLiteral(NW_SOURCE_MAN_PAGE));
#endif
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile())
            return QFileInfo(path).canonicalFilePath();
    return {};
}

void TManualForm::render()
{
    const QString path = ManualPagePath();
    if (path.isEmpty()) {
        showFailure(ManualMissingText);
        return;
    }
    m_text->setPlainText(FormattingText);
    // gzip passes an uncompressed page through (-f); groff writes plain text, without the
    // terminal's overstrikes and colour codes (-P-cbou).
    m_unpack = new QProcess(this);
    m_format = new QProcess(this);
    m_unpack->setStandardOutputProcess(m_format);
    connect(m_format, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            showFailure(QStringLiteral("groff is not installed"));
    });
    connect(m_format, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const QByteArray page = m_format->read(MaxPageBytes);
        if (status != QProcess::NormalExit || code != 0 || page.trimmed().isEmpty()) {
            const QString reason =
                QString::fromLocal8Bit(m_format->readAllStandardError()).trimmed();
            showFailure(reason.isEmpty() ? QStringLiteral("groff failed") : reason);
            return;
        }
        m_text->setPlainText(QString::fromUtf8(page));
    });
    m_format->start(QStringLiteral("groff"),
                    {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-P-cbou"),
                     QStringLiteral("-rLL=78n")});
    m_unpack->start(QStringLiteral("gzip"), {QStringLiteral("-dcf"), QStringLiteral("--"), path});
    QTimer::singleShot(FormatTimeoutMs, this, [this] {
        if (m_format->state() != QProcess::NotRunning ||
            m_unpack->state() != QProcess::NotRunning) {
            m_format->disconnect(this);
            m_unpack->kill();
            m_format->kill();
            showFailure(QStringLiteral("formatting took too long"));
        }
    });
}

void TManualForm::showFailure(const QString& reason)
{
    m_text->setPlainText(ManualFailText.arg(reason));
}
