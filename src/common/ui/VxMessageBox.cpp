#include "common/ui/VxMessageBox.h"

#include <QApplication>

namespace {
VxMessageBoxHandler* g_handler = nullptr;

// The most lines of details a box shows below its text; more go to its detailed text.
constexpr qsizetype ShownDetailLines = 20;
}

QMessageBox::StandardButton VxMessageBox(QWidget* owner, const QString& text,
                                         const QString& caption,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::Icon icon,
                                         QMessageBox::StandardButton defaultButton)
{
    if (g_handler)
        return g_handler->Show(owner, text, caption, buttons, icon, defaultButton);
    QMessageBox box(icon, caption, text, buttons, owner);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

QMessageBox::StandardButton VxMessageBoxDetailed(QWidget* owner, const QString& text,
                                                 const QString& details, const QString& caption,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::Icon icon,
                                                 QMessageBox::StandardButton defaultButton)
{
    if (g_handler)
        return g_handler->ShowDetailed(owner, text, details, caption, buttons, icon, defaultButton);
    QMessageBox box(icon, caption, text, buttons, owner);
    const QStringList lines = details.split(QLatin1Char('\n'));
    if (lines.size() > ShownDetailLines) {
        // A box taller than the screen would hide its own buttons.
        box.setInformativeText(lines.mid(0, ShownDetailLines).join(QLatin1Char('\n')) +
                               QStringLiteral("\n\u2026"));
        box.setDetailedText(details);
    } else {
        box.setInformativeText(details);
    }
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

void VxBeep()
{
    if (g_handler)
        g_handler->Beep();
    else
        QApplication::beep();
}

VxMessageBoxHandler* SetMessageBoxHandler(VxMessageBoxHandler* handler)
{
    VxMessageBoxHandler* previous = g_handler;
    g_handler = handler;
    return previous;
}
