#pragma once

#include <QDialog>

class QPlainTextEdit;
class QProcess;

// The program's manual page as text, in a window of its own: a desktop without a terminal
// still reads it. The page is formatted by groff in the background; the window opens at once.
class TManualForm : public QDialog
{
    Q_OBJECT

public:
    explicit TManualForm(QWidget* owner);
    ~TManualForm() override;

    QPlainTextEdit* Text() const { return m_text; }

    // The page's source: the installed one next to the program (…/share/man/man1), else the
    // one of the source tree the program was built from; empty when there is neither.
    static QString ManualPagePath();

private:
    void render();
    void showFailure(const QString& reason);

    QPlainTextEdit* m_text;
    QProcess* m_unpack = nullptr;
    QProcess* m_format = nullptr;
};
