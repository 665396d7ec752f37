#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Every message box and beep of the windows goes through here, so that tests (and any
// front end without a person at the screen) can answer questions without a modal loop.
class VxMessageBoxHandler
{
public:
    virtual ~VxMessageBoxHandler() = default;
    // Returns the button that answers the box.
    // defaultButton is the one Enter presses (NoButton: the platform's choice).
    virtual QMessageBox::StandardButton Show(QWidget* owner, const QString& text,
                                             const QString& caption,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::Icon icon,
                                             QMessageBox::StandardButton defaultButton) = 0;
    // A box with lines of detail below its text; answered like the box without them unless
    // the handler wants to see them.
    virtual QMessageBox::StandardButton ShowDetailed(QWidget* owner, const QString& text,
                                                     const QString& details, const QString& caption,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::Icon icon,
                                                     QMessageBox::StandardButton defaultButton)
    {
        (void)details;
        return Show(owner, text, caption, buttons, icon, defaultButton);
    }
    virtual void Beep() {}
};

// Shows a modal box (runs the event loop until it is answered) unless a handler is installed.
// defaultButton is the one Enter presses; NoButton leaves the choice to the platform.
QMessageBox::StandardButton
VxMessageBox(QWidget* owner, const QString& text, const QString& caption,
             QMessageBox::StandardButtons buttons = QMessageBox::Ok,
             QMessageBox::Icon icon = QMessageBox::NoIcon,
             QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
// The same with details shown below the text (the box's informative text). Details longer
// than a screen show their first lines there and the whole text in the box's scrolling
// detailed text.
QMessageBox::StandardButton
VxMessageBoxDetailed(QWidget* owner, const QString& text, const QString& details,
                     const QString& caption, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                     QMessageBox::Icon icon = QMessageBox::NoIcon,
                     QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
void VxBeep();

// Installs a handler (nullptr: real boxes again); returns the previous one.
VxMessageBoxHandler* SetMessageBoxHandler(VxMessageBoxHandler* handler);
