#include "config/ui/VxEditConstraintExt.h"

#include "common/ui/VxIPAddressPanel.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

bool isHexDigit(QChar ch)
{
    return (ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) ||
           (ch >= QLatin1Char('A') && ch <= QLatin1Char('F')) ||
           (ch >= QLatin1Char('a') && ch <= QLatin1Char('f'));
}

} // namespace

QString VxEditConstraintExt::HexMask(QChar separator, int byteCount)
{
    if (byteCount <= 0)
        return QStringLiteral(" ");
    // A separator that is itself a mask character must be escaped to stay a literal.
    static const QString maskChars = QStringLiteral("AaNnXx90Dd#HhBb><!{}[]\\;");
    QString sep = maskChars.contains(separator) ? QStringLiteral("\\") + separator : QString(separator);
    QString mask = QStringLiteral(">");
    for (int i = 0; i < byteCount - 1; ++i)
        mask += QStringLiteral("hh") + sep;
    mask += QStringLiteral("hh;0");
    return mask;
}

void VxEditConstraintExt::SetupHexEdit(QLineEdit* edit, QChar separator, int byteCount)
{
    edit->clear();
    edit->setInputMask(HexMask(separator, byteCount));
    // A mask keeps its unfilled positions out of text(); clearing once more puts the field
    // back to all zeros when the mask is the same as before.
    edit->clear();
    if (!m_hexEdits.contains(edit)) {
        m_hexEdits.append(edit);
        edit->installEventFilter(this);
        connect(edit, &QObject::destroyed, this, [this, edit] { m_hexEdits.removeAll(edit); });
    }
}

void VxEditConstraintExt::SetupIPAddressPanel(QFrame* panel, QList<QLineEdit*>* list)
{
    ::SetupIPAddressPanel(*this, panel, list);
}

bool VxEditConstraintExt::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && m_hexEdits.contains(edit)) {
            const QString text = static_cast<QKeyEvent*>(event)->text();
            // Editing keys carry no text (or a control character) and pass; a typed space
            // would jump to the next group, so it is dropped like any other non-hex character.
            if (!text.isEmpty() && text.at(0).isPrint() && !isHexDigit(text.at(0)))
                return true;
        }
    }
    return VxEditConstraint::eventFilter(watched, event);
}
