#pragma once

#include "common/ui/VxEditConstraint.h"

#include <QList>

class QFrame;
class QLineEdit;

// The constraint manager of the configuration windows: the common field constraints plus
// the two kinds of field only these windows have, hexadecimal byte fields and IP address
// panels.
class VxEditConstraintExt : public VxEditConstraint
{
    Q_OBJECT

public:
    using VxEditConstraint::VxEditConstraint;

    // Turns the edit into a field of byteCount groups of two hex digits with the separator
    // between them: unfilled positions show "0", letters show in upper case, and the display
    // text (separators and zeros included) is the field's value. A byte count of 0 leaves a
    // single blank that takes no input. Typed characters other than hex digits are dropped.
    void SetupHexEdit(QLineEdit* edit, QChar separator, int byteCount);

    // The four octet edits of an IP address panel; they are appended to list when given.
    void SetupIPAddressPanel(QFrame* panel, QList<QLineEdit*>* list = nullptr);

    // The input mask SetupHexEdit gives a field (" " for no bytes).
    static QString HexMask(QChar separator, int byteCount);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QList<QLineEdit*> m_hexEdits;
};
