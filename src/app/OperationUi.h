#pragma once

#include <QString>

// What an operation needs from whoever started it: a progress display that the user can close
// to abort, and yes/no questions. The window implements it with its progress form and message
// boxes; the command line with a status line, Ctrl-C and the terminal.
class OperationUi
{
public:
    virtual ~OperationUi() = default;

    // Shows the progress display. When abortable, closing it asks the command queue to abort
    // (CommandQueue::OnProgressClose).
    virtual void ShowProgress(const QString& caption, const QString& prompt, bool abortable) = 0;
    virtual void CloseProgress() = 0;
    // The answer a question offers first (the one Enter gives): a question whose Yes destroys
    // work (an abort) offers No.
    enum class Preset
    {
        Yes,
        No
    };
    // May run the event loop while it waits for the answer.
    virtual bool AskYesNo(const QString& text, const QString& caption,
                          Preset preset = Preset::Yes) = 0;
};
