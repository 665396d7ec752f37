#include "common/ui/VxIPAddressPanel.h"

#include "common/ui/VxEditConstraint.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>

#include <memory>

namespace {

constexpr int OctetWidth = 25;
constexpr int OctetHeight = 18;
constexpr int OctetPitch = 30;

QLineEdit* octetOf(const QFrame* panel, int tag)
{
    for (QLineEdit* e : panel->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        if (e->property("tag").isValid() && e->property("tag").toInt() == tag)
            return e;
    return nullptr;
}

// The dotted address of the four octets; empty octets read "0" (and are set to "0" when
// fillEdits).
QString dottedAddress(QFrame* panel, bool fillEdits)
{
    QStringList parts;
    for (int tag = 0; tag < 4; ++tag) {
        QLineEdit* e = octetOf(panel, tag);
        QString text = e ? e->text() : QString();
        if (text.isEmpty()) {
            text = QStringLiteral("0");
            if (e && fillEdits) {
                e->setText(text);
                // The user may already be in this octet: the next digit replaces the "0".
                if (e->hasFocus())
                    e->selectAll();
            }
        }
        parts.append(text);
    }
    return parts.join(QLatin1Char('.'));
}

// Pasting into an octet: a whole dotted address fills the four octets of the panel, whichever
// octet it is pasted into; any other text goes in as typed text does. Every way of pasting
// comes here (the keys, the context menu, the middle button), because the octet's own paste
// would cut the text to its three characters before anyone could see it.
class OctetPaste : public QObject
{
public:
    OctetPaste(VxEditConstraint& manager, QFrame* panel) : QObject(panel), m_manager(manager) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* octet = qobject_cast<QLineEdit*>(watched);
        if (!octet || octet->isReadOnly())
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
                paste(octet, QClipboard::Clipboard);
                return true;
            }
            return false;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::MiddleButton &&
                QGuiApplication::clipboard()->supportsSelection()) {
                paste(octet, QClipboard::Selection);
                return true;
            }
            return false;
        case QEvent::ContextMenu: {
            std::unique_ptr<QMenu> menu(octet->createStandardContextMenu());
            if (auto* action = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
                action->disconnect(octet);
                connect(action, &QAction::triggered, octet,
                        [this, octet] { paste(octet, QClipboard::Clipboard); });
            }
            menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        }
        default:
            return false;
        }
    }

private:
    void paste(QLineEdit* octet, QClipboard::Mode mode)
    {
        const QString text = QGuiApplication::clipboard()->text(mode).trimmed();
        static const QRegularExpression dotted(
            QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
        const QRegularExpressionMatch m = dotted.match(text);
        auto* panel = qobject_cast<QFrame*>(octet->parentWidget());
        if (!m.hasMatch() || !panel) {
            octet->insert(text);
            return;
        }
        QLineEdit* last = nullptr;
        for (int tag = 0; tag < 4; ++tag) {
            QLineEdit* e = octetOf(panel, tag);
            if (!e)
                continue;
            {
                // Filled, not typed: no focus moves on the way.
                const QSignalBlocker block(e);
                e->setText(m.captured(tag + 1));
            }
            // Each octet is checked as if it had been left (a number above 255 is refused
            // there), and the panel's value follows.
            m_manager.QueueExit(e);
            last = e;
        }
        if (last) {
            last->setFocus(Qt::OtherFocusReason);
            last->end(false);
        }
    }

    VxEditConstraint& m_manager;
};

} // namespace

QString PanelCaption(const QFrame* panel)
{
    return panel->property("caption").toString();
}

void SetPanelCaption(QFrame* panel, const QString& caption)
{
    panel->setProperty("caption", caption);
}

void SetupIPAddressPanel(VxEditConstraint& manager, QFrame* panel, QList<QLineEdit*>* list)
{
    QList<QLineEdit*> octets;
    manager.BuildFields(panel, QString::fromLatin1(IPAddressLayout), &octets);
    auto* paste = new OctetPaste(manager, panel);
    if (list)
        list->append(octets);

    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Base);
    panel->setFixedSize(120, 22);
    const int top = (22 - OctetHeight) / 2;
    for (int tag = 0; tag < octets.size(); ++tag) {
        QLineEdit* e = octets.at(tag);
        e->setFrame(false);
        e->setAlignment(Qt::AlignCenter);
        e->setGeometry(2 + tag * OctetPitch, top, OctetWidth, OctetHeight);
        e->setProperty("tag", tag);
        manager.SetExitHandler(e, [&manager](QLineEdit* octet) { return IPOctetExit(manager, octet); });
        e->setAcceptDrops(false);
        e->installEventFilter(paste);
    }
    for (int k = 0; k < 3; ++k) {
        auto* dot = new QLabel(QStringLiteral("."), panel);
        dot->setGeometry(2 + 28 + k * OctetPitch, top + 3, 3, 13);
        dot->show();
    }
}

bool IPOctetExit(VxEditConstraint& manager, QLineEdit* octet)
{
    auto* panel = qobject_cast<QFrame*>(octet->parentWidget());
    if (!panel)
        return manager.OnEditExit(octet);
    SetPanelCaption(panel, dottedAddress(panel, true));
    if (manager.OnEditExit(octet))
        return true;
    // The refused octet got its last accepted text back; the value must not keep the number
    // that was just refused.
    SetPanelCaption(panel, dottedAddress(panel, false));
    return false;
}

void SetIPAddressPanelText(QFrame* panel, const QString& address)
{
    SetPanelCaption(panel, address);
    const QStringList parts = address.split(QLatin1Char('.'));
    for (int tag = 0; tag < 4; ++tag)
        if (QLineEdit* e = octetOf(panel, tag))
            e->setText(tag < parts.size() ? parts.at(tag) : QString());
}
