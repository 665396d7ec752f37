#pragma once

#include <QList>
#include <QString>

class QFrame;
class QLineEdit;
class VxEditConstraint;

// The four octets of an IP address input. Each octet takes 0 to 255, at most three digits;
// "." or a third digit moves on to the next octet.
inline constexpr const char* IPAddressLayout =
    "%u{n0x255e.l3a}%u{n0x255e.l3a}%u{n0x255e.l3a}%u{n0x255l3a}";

// Turns a panel into an IP address field: four constrained octet edits (tags 0 to 3) with "."
// labels between them. The field's value is the panel's caption (PanelCaption), written when
// an octet is left; it stays empty until then. The octets are appended to list when given.
void SetupIPAddressPanel(VxEditConstraint& manager, QFrame* panel, QList<QLineEdit*>* list = nullptr);

// The exit handler of an octet: writes the dotted address into the panel's caption (an empty
// octet reads "0" there and in the octet), then checks the octet. Returns false when the octet
// was refused; the caption then holds the octet's restored value, never the refused one.
bool IPOctetExit(VxEditConstraint& manager, QLineEdit* octet);

QString PanelCaption(const QFrame* panel);
void SetPanelCaption(QFrame* panel, const QString& caption);
// Fills the octets from a dotted text (missing parts leave octets empty) and the caption.
void SetIPAddressPanelText(QFrame* panel, const QString& address);
