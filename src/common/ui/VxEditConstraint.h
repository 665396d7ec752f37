#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLineEdit;


// The error of a constraint text that breaks the grammar.
inline constexpr int kBadConstraintCode = -2;
inline constexpr const char* kBadConstraintText = "(VxCommon) Bad format specifier of edit's constraint!";

// Messages of the exit check; the bracketed words are replaced by the field's limits.
namespace EditConstraintMessages {
inline constexpr const char* StringTooLong = "(VxCommon) Please enter a string whose length is less than [MAXLEN]!";
inline constexpr const char* StringLength = "(VxCommon) Please enter a string whose length is [LEN]!";
inline constexpr const char* HexTooLong = "(VxCommon) Please enter a hex string whose length is less than [MAXLEN]!";
inline constexpr const char* HexLength = "(VxCommon) Please enter a hex string whose length is [LEN]!";
inline constexpr const char* NumberRange = "(VxCommon) Please enter a number between [MIN] and [MAX]!";
inline constexpr const char* ListTooLong = "(VxCommon) Please enter a delimited number string with delimiter "
                                           "'[DELIMITER]'.\nHere,the count of the number is less than [MAXCOUNT]!";
inline constexpr const char* ListCount = "(VxCommon) Please enter a delimited number string with delimiter "
                                         "'[DELIMITER]'.\nHere,the count of the number is equal to [COUNT]!";
inline constexpr const char* ListRange = "(VxCommon) Please enter a delimited number string with delimiter "
                                         "'[DELIMITER]'.\nHere,each number is between [MIN] and [MAX]!";
} // namespace EditConstraintMessages

// A list of unsigned numbers written with a delimiter ("10.0.0.1", "1,5,9").
struct VxNumList
{
    int count = 0;
    std::vector<uint32_t> numbers;
    char16_t delimiter = u'.';

    // Replaces the contents. Never fails: characters that are not digits count as digits
    // the way the field has always read them, and a "." that is not the delimiter starts a
    // fraction whose digits are ignored.
    void Parse(const QString& text);
};

// A parsed constraint and the state of the edit it guards.
struct _EditConstraint_s
{
    enum Flag : int16_t { AutoAdvance = 1, Exact = 2 };

    QPointer<QLineEdit> edit;
    char16_t type = 0;
    char16_t delimiter = 0;
    double min = 0;
    double max = 0;
    int32_t maxLength = 0;
    int16_t flags = 0;
    char16_t exitChar = 0;
    int width = 0;
    QString lastAccepted;
    // The focus came into the edit by the auto-advance of the edit before it and no key has
    // been typed here since: the delimiter typed now only ends the number the advance has
    // already ended, so it is swallowed instead of moving on once more.
    bool enteredByAdvance = false;
    // The handlers the edit had before the constraint; they run after an accepted check.
    std::function<void(QLineEdit*)> previousChange;
    std::function<void(QLineEdit*)> previousExit;
    // Replaces the check as the edit's exit handler (the IP octets route their exit through
    // their panel first, which then calls OnEditExit itself); returns whether it accepted.
    std::function<bool(QLineEdit*)> exitHandler;
};

// Parses a constraint text; raises kBadConstraintCode for a text that breaks the grammar.
_EditConstraint_s ParseEditConstraint(const QString& text);

// Guards the edits of one dialog with constraint texts such as "%i{n5x300}": refuses
// keystrokes that can never be valid (with a beep), moves the focus on by itself, and checks
// the value when the user leaves the field, putting back the last accepted text on refusal.
//
// The check on leaving runs just after the focus change has finished (the message box and the
// focus going back must not happen inside it); RunPendingExits runs it at once, for a button
// that needs the values the user has just typed.
class VxEditConstraint : public QObject
{
    Q_OBJECT

public:
    VxEditConstraint(QWidget* form, bool rememberAccepted);
    ~VxEditConstraint() override;

    // Attaches the constraint (raises kBadConstraintCode and attaches nothing on a bad text).
    void Add(const QString& constraint, QLineEdit* edit, std::function<void(QLineEdit*)> previousChange = {},
             std::function<void(QLineEdit*)> previousExit = {});
    _EditConstraint_s* Find(const QLineEdit* edit);
    // Installs a handler that runs instead of OnEditExit when the edit is left.
    void SetExitHandler(QLineEdit* edit, std::function<bool(QLineEdit*)> handler);

    // The keystroke filter, run on every change of the text.
    void OnEditChange(QLineEdit* edit);
    // The value check; false when the value was refused (the box was shown, the text put
    // back and the focus given back). Runs the event loop while the message box is open.
    bool OnEditExit(QLineEdit* edit);
    void RememberText(QLineEdit* edit);
    // Runs the checks of edits that were left but not yet checked; false when one refused.
    bool RunPendingExits();
    // Has the edit checked as if it had been left (after the current event, or by the next
    // RunPendingExits): for a value put into it other than by typing.
    void QueueExit(QLineEdit* edit);

    // Fills the panel from left to right with labels and constrained edits from a layout
    // text such as "IP %u{l3}.%u{l3}"; every edit created is appended to list when given.
    void BuildFields(QWidget* panel, const QString& layout, QList<QLineEdit*>* list = nullptr);

    QWidget* Form() const { return m_form; }
    int Count() const { return int(m_constraints.size()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Moves the focus to the next control once the current notification has returned. Keys
    // that reach the edit before the move has happened (typed faster than the event loop
    // turns) go where the focus is moved to, as if the move had been made at once.
    void postNextControl(QLineEdit* from, bool byLength);
    QWidget* performAdvance();
    bool runExit(QLineEdit* edit);
    void refuse(_EditConstraint_s& c, const QString& message);

    QPointer<QWidget> m_form;
    bool m_rememberAccepted;
    std::vector<std::unique_ptr<_EditConstraint_s>> m_constraints;
    QList<QPointer<QLineEdit>> m_pendingExits;
    bool m_checking = false;
    // The edit whose posted focus move has not happened yet, and why it moves.
    QPointer<QLineEdit> m_advanceFrom;
    bool m_advanceByLength = false;
};
