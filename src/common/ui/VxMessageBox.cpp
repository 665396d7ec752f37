#include "common/ui/VxMessageBox.h"

#include <QApplication>

namespace {
VxMessageBoxHandler* g_handler = nullptr;
}

QMessageBox::StandardButton VxMessageBox(QWidget* owner, const QString& text, const QString& caption,
                                         QMessageBox::StandardButtons buttons, QMessageBox::Icon icon)
{
    if (g_handler)
        return g_handler->Show(owner, text, caption, buttons, icon);
    QMessageBox box(icon, caption, text, buttons, owner);
    return QMessageBox::StandardButton(box.exec());
}

QMessageBox::StandardButton VxMessageBoxDetailed(QWidget* owner, const QString& text, const QString& details,
                                                 const QString& caption, QMessageBox::StandardButtons buttons,
                                                 QMessageBox::Icon icon)
{
    if (g_handler)
        return g_handler->ShowDetailed(owner, text, details, caption, buttons, icon);
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setInformativeText(details);
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
