#pragma once

#include "common/ui/VxMessageBox.h"
#include "TestHelpers.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QStringList>
#include <QTest>
#include <QWidget>

#include <deque>

// Records every message box and beep and answers questions from a script (default: the first
// of Yes, Ok), so no test waits for a person.
class RecordingMessageBoxes : public VxMessageBoxHandler
{
public:
    RecordingMessageBoxes() { m_previous = SetMessageBoxHandler(this); }
    ~RecordingMessageBoxes() override { SetMessageBoxHandler(m_previous); }

    QMessageBox::StandardButton Show(QWidget*, const QString& text, const QString& caption,
                                     QMessageBox::StandardButtons buttons, QMessageBox::Icon,
                                     QMessageBox::StandardButton defaultButton) override
    {
        texts.append(text);
        captions.append(caption);
        defaults.append(defaultButton);
        if (!answers.empty()) {
            const auto a = answers.front();
            answers.pop_front();
            return a;
        }
        return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    QMessageBox::StandardButton ShowDetailed(QWidget* owner, const QString& text, const QString& detail,
                                             const QString& caption, QMessageBox::StandardButtons buttons,
                                             QMessageBox::Icon icon,
                                             QMessageBox::StandardButton defaultButton) override
    {
        details.append(detail);
        return Show(owner, text, caption, buttons, icon, defaultButton);
    }
    void Beep() override { ++beeps; }

    QStringList texts;
    QStringList details;
    QStringList captions;
    QList<QMessageBox::StandardButton> defaults; // the button Enter would have pressed
    std::deque<QMessageBox::StandardButton> answers;
    int beeps = 0;

private:
    VxMessageBoxHandler* m_previous = nullptr;
};

// Shows the window and makes it the active one, so that focus changes deliver their events.
inline bool ShowActive(QWidget* w)
{
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w);
    return QTest::qWaitForWindowActive(w, 2000);
}

// Lets queued work (posted focus moves, exit checks) run.
inline void Settle()
{
    WaitMilliseconds(20);
}

// The names a file dialog lists in its folder, once it lists `known` (a file every filter
// shows), so that the folder has been read.
inline QStringList ListedNames(QFileDialog* dialog, const QString& known)
{
    auto* model = dialog->findChild<QFileSystemModel*>();
    if (!model)
        return {};
    QStringList names;
    WaitUntil([&] {
        names.clear();
        const QModelIndex root = model->index(dialog->directory().absolutePath());
        for (int r = 0; r < model->rowCount(root); ++r)
            names.append(model->fileName(model->index(r, 0, root)));
        return names.contains(known);
    });
    return names;
}

// Types into whatever has the focus, as keys arrive in one burst: nothing else happens between
// them, not even the focus moves the keys themselves have asked for.
inline void TypeBurst(const QString& keys)
{
    for (const QChar ch : keys)
        if (QWidget* focus = QApplication::focusWidget())
            QTest::keyClick(focus, ch.toLatin1());
}
