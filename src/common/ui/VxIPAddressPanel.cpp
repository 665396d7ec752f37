#include "common/ui/VxIPAddressPanel.h"

#include "common/ui/VxEditConstraint.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

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
