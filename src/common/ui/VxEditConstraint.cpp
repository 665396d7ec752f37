#include "common/ui/VxEditConstraint.h"

#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/ui/VxMessageBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cfloat>
#include <cstdlib>

namespace {

[[noreturn]] void badFormat()
{
    throw VxError(kBadConstraintCode, QString::fromLatin1(kBadConstraintText));
}

// A run of characters from the set starting at i; i moves past it. An empty run breaks the
// grammar.
QString takeRun(const QString& text, int& i, int end, const char* set)
{
    const int start = i;
    while (i < end && std::strchr(set, text.at(i).toLatin1()) && text.at(i).unicode() < 128)
        ++i;
    if (i == start)
        badFormat();
    return text.mid(start, i - start);
}

double toNumber(const QString& run)
{
    bool ok = false;
    const double value = run.toDouble(&ok);
    if (!ok) // "1.2.3": the grammar's run accepts it, a number it is not
        badFormat();
    return value;
}

// The leading decimal number of the text, 0 when there is none (what the fields have always
// compared against their bounds).
double leadingNumber(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::strtod(bytes.constData(), nullptr);
}

QString general15(double value)
{
    return QString::asprintf("%.15g", value);
}

bool isDigit(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
}

bool allowed(const _EditConstraint_s& c, const QString& text, int k)
{
    const QChar ch = text.at(k);
    switch (c.type) {
    case u'f':
        if (ch == QLatin1Char('.'))
            return !text.left(k).contains(QLatin1Char('.'));
        return isDigit(ch) || (ch == QLatin1Char('-') && k == 0);
    case u'i':
        return isDigit(ch) || (ch == QLatin1Char('-') && k == 0);
    case u'u':
        return isDigit(ch);
    case u'h':
        return isDigit(ch) || (ch >= QLatin1Char('A') && ch <= QLatin1Char('F')) ||
               (ch >= QLatin1Char('a') && ch <= QLatin1Char('f'));
    case u'n':
        if (ch == QChar(c.delimiter))
            return k > 0 && text.at(k - 1) != QChar(c.delimiter);
        return isDigit(ch);
    default:
        return true;
    }
}

bool tagIsMinusOne(const QLineEdit* edit)
{
    const QVariant tag = edit->property("tag");
    return tag.isValid() && tag.toInt() == -1;
}

} // namespace

void VxNumList::Parse(const QString& text)
{
    numbers.clear();
    count = text.isEmpty() ? 0 : 1 + int(text.count(QChar(delimiter)));
    numbers.assign(size_t(count), 0);
    int index = 0;
    bool fraction = false;
    for (const QChar ch : text) {
        if (ch == QChar(delimiter)) {
            ++index;
            fraction = false;
        } else if (ch == QLatin1Char('.')) {
            fraction = true;
        } else if (!fraction) {
            numbers[size_t(index)] = numbers[size_t(index)] * 10u + uint32_t(ch.unicode() - u'0');
        }
    }
}

_EditConstraint_s ParseEditConstraint(const QString& t)
{
    if (t.size() < 2 || t.at(0) != QLatin1Char('%'))
        badFormat();
    _EditConstraint_s c;
    c.type = t.at(1).unicode();
    switch (c.type) {
    case u'f':
        c.min = -DBL_MAX;
        c.max = DBL_MAX;
        break;
    case u'i':
        c.min = -2147483648.0;
        c.max = 2147483647.0;
        break;
    case u'u':
    case u'n':
        c.min = 0;
        c.max = 4294967295.0;
        break;
    case u'h':
    case u's':
        break;
    default:
        badFormat();
    }
    int pos = 2;
    if (c.type == u'n') {
        if (t.size() < 3)
            badFormat();
        c.delimiter = t.at(2).unicode();
        pos = 3;
    }
    if (pos >= t.size())
        return c;
    if (t.at(pos) != QLatin1Char('{') || t.back() != QLatin1Char('}') || pos == t.size() - 1)
        badFormat();

    const int end = t.size() - 1; // the closing brace
    int i = pos + 1;
    while (i < end) {
        const QChar letter = t.at(i++);
        switch (letter.unicode()) {
        case u'w':
            c.width = takeRun(t, i, end, "0123456789").toInt();
            break;
        case u'n':
            c.min = toNumber(takeRun(t, i, end, "0123456789."));
            break;
        case u'x':
            c.max = toNumber(takeRun(t, i, end, "0123456789."));
            break;
        case u'l':
            c.maxLength = takeRun(t, i, end, "0123456789").toInt();
            for (int k = 0; k < 2 && i < end; ++k) {
                if (t.at(i) == QLatin1Char('a'))
                    c.flags = int16_t(c.flags + _EditConstraint_s::AutoAdvance);
                else if (t.at(i) == QLatin1Char('f'))
                    c.flags = int16_t(c.flags + _EditConstraint_s::Exact);
                else
                    break;
                ++i;
            }
            break;
        case u'e':
            if (i >= end)
                badFormat();
            c.exitChar = t.at(i++).unicode();
            break;
        default:
            badFormat();
        }
    }
    return c;
}

VxEditConstraint::VxEditConstraint(QWidget* form, bool rememberAccepted)
    : QObject(form), m_form(form), m_rememberAccepted(rememberAccepted)
{
}

VxEditConstraint::~VxEditConstraint() = default;

void VxEditConstraint::Add(const QString& constraint, QLineEdit* edit, std::function<void(QLineEdit*)> previousChange,
                           std::function<void(QLineEdit*)> previousExit)
{
    auto record = std::make_unique<_EditConstraint_s>(ParseEditConstraint(constraint));
    record->edit = edit;
    record->previousChange = std::move(previousChange);
    record->previousExit = std::move(previousExit);
    if (record->width > 0)
        edit->resize(record->width, edit->height());
    edit->setMaxLength(record->maxLength > 0 ? record->maxLength : 32767);
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { OnEditChange(edit); });
    edit->installEventFilter(this);
    m_constraints.push_back(std::move(record));
}

_EditConstraint_s* VxEditConstraint::Find(const QLineEdit* edit)
{
    for (const auto& c : m_constraints)
        if (c->edit == edit)
            return c.get();
    return nullptr;
}

void VxEditConstraint::SetExitHandler(QLineEdit* edit, std::function<bool(QLineEdit*)> handler)
{
    if (_EditConstraint_s* c = Find(edit))
        c->exitHandler = std::move(handler);
}

void VxEditConstraint::postNextControl(QLineEdit* from, bool byLength)
{
    m_advanceFrom = from;
    m_advanceByLength = byLength;
    QTimer::singleShot(0, this, [this] { performAdvance(); });
}

QWidget* VxEditConstraint::performAdvance()
{
    QLineEdit* from = m_advanceFrom;
    m_advanceFrom = nullptr;
    if (!from || !m_form)
        return nullptr;
    QWidget* window = from->window();
    // The user has gone elsewhere in the meantime: that is where they stay.
    if (window->focusWidget() != from)
        return nullptr;
    // The next control that takes the focus by Tab, as the Tab key would find it.
    QWidget* next = from->nextInFocusChain();
    while (next && next != from &&
           !(next->window() == window && next->isVisibleTo(window) && next->isEnabled() &&
             (next->focusPolicy() & Qt::TabFocus)))
        next = next->nextInFocusChain();
    if (!next || next == from)
        return nullptr;
    next->setFocus(Qt::TabFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(next); edit && m_advanceByLength)
        if (_EditConstraint_s* c = Find(edit))
            c->enteredByAdvance = true;
    return next;
}

void VxEditConstraint::OnEditChange(QLineEdit* edit)
{
    _EditConstraint_s* c = Find(edit);
    if (!c)
        return;
    QString text = edit->text();
    if (text.isEmpty())
        return;
    if (c->exitChar && text.contains(QChar(c->exitChar))) {
        text.remove(text.indexOf(QChar(c->exitChar)), 1);
        edit->setText(text);
        postNextControl(edit, false);
        return;
    }
    for (int k = 0; k < text.size(); ++k) {
        if (!allowed(*c, text, k)) {
            text.remove(k, 1);
            edit->setText(text);
            edit->setCursorPosition(k);
            VxBeep();
            return;
        }
    }
    if (c->previousChange) {
        c->previousChange(edit);
        if (tagIsMinusOne(edit))
            return;
    }
    if ((c->flags & _EditConstraint_s::AutoAdvance) && c->maxLength > 0 && text.size() == c->maxLength)
        postNextControl(edit, true);
}

void VxEditConstraint::refuse(_EditConstraint_s& c, const QString& message)
{
    const QString caption = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    VxMessageBox(m_form, message, caption, QMessageBox::Ok);
    if (!c.edit)
        return;
    c.edit->setText(c.lastAccepted);
    c.edit->setFocus(Qt::OtherFocusReason);
}

bool VxEditConstraint::OnEditExit(QLineEdit* edit)
{
    _EditConstraint_s* c = Find(edit);
    if (!c)
        return true;
    const QString text = edit->text();
    if (text.isEmpty())
        return true;

    namespace M = EditConstraintMessages;
    QString message;
    switch (c->type) {
    case u'f':
    case u'i':
    case u'u': {
        const double value = leadingNumber(text);
        if (!(c->min <= value && value <= c->max)) {
            message = ReplaceAll(QString::fromLatin1(M::NumberRange), QStringLiteral("[MIN]"), general15(c->min));
            message = ReplaceAll(message, QStringLiteral("[MAX]"), general15(c->max));
        }
        break;
    }
    case u'h':
    case u's': {
        if (c->maxLength <= 0)
            break;
        const bool hex = c->type == u'h';
        if (c->flags & _EditConstraint_s::Exact) {
            if (text.size() != c->maxLength)
                message = ReplaceAll(QString::fromLatin1(hex ? M::HexLength : M::StringLength), QStringLiteral("[LEN]"),
                                     QString::number(c->maxLength));
        } else if (text.size() > c->maxLength) {
            message = ReplaceAll(QString::fromLatin1(hex ? M::HexTooLong : M::StringTooLong), QStringLiteral("[MAXLEN]"),
                                 QString::number(c->maxLength));
        }
        break;
    }
    case u'n': {
        VxNumList list;
        list.delimiter = c->delimiter;
        list.Parse(text);
        const QString delimiter = QString(QChar(c->delimiter));
        if (c->maxLength > 0) {
            if ((c->flags & _EditConstraint_s::Exact) && list.count != c->maxLength)
                message = ReplaceAll(ReplaceAll(QString::fromLatin1(M::ListCount), QStringLiteral("[DELIMITER]"), delimiter),
                                     QStringLiteral("[COUNT]"), QString::number(c->maxLength));
            else if (!(c->flags & _EditConstraint_s::Exact) && list.count > c->maxLength)
                message = ReplaceAll(ReplaceAll(QString::fromLatin1(M::ListTooLong), QStringLiteral("[DELIMITER]"), delimiter),
                                     QStringLiteral("[MAXCOUNT]"), QString::number(c->maxLength));
        }
        if (message.isEmpty()) {
            const auto toU32 = [](double v) { return v <= 0 ? 0u : v >= 4294967295.0 ? 4294967295u : uint32_t(v); };
            const uint32_t lo = toU32(c->min);
            const uint32_t hi = toU32(c->max);
            for (uint32_t n : list.numbers) {
                if (n < lo || n > hi) {
                    message = ReplaceAll(QString::fromLatin1(M::ListRange), QStringLiteral("[DELIMITER]"), delimiter);
                    message = ReplaceAll(message, QStringLiteral("[MIN]"), QString::number(lo));
                    message = ReplaceAll(message, QStringLiteral("[MAX]"), QString::number(hi));
                    break;
                }
            }
        }
        break;
    }
    default:
        break;
    }

    if (!message.isEmpty()) {
        refuse(*c, message);
        return false;
    }
    if (c->previousExit) {
        c->previousExit(edit);
        if (tagIsMinusOne(edit)) {
            edit->setText(c->lastAccepted);
            return true;
        }
    }
    if (m_rememberAccepted)
        c->lastAccepted = edit->text();
    return true;
}

void VxEditConstraint::RememberText(QLineEdit* edit)
{
    if (_EditConstraint_s* c = Find(edit))
        c->lastAccepted = edit->text();
}

bool VxEditConstraint::runExit(QLineEdit* edit)
{
    _EditConstraint_s* c = Find(edit);
    if (!c)
        return true;
    if (c->exitHandler)
        return c->exitHandler(edit);
    return OnEditExit(edit);
}

bool VxEditConstraint::RunPendingExits()
{
    if (m_checking)
        return true;
    m_checking = true;
    bool allAccepted = true;
    while (!m_pendingExits.isEmpty()) {
        QPointer<QLineEdit> edit = m_pendingExits.takeFirst();
        if (edit && !runExit(edit)) {
            allAccepted = false;
            // The user goes back to the refused field; later fields are checked when left.
            m_pendingExits.clear();
        }
    }
    m_checking = false;
    return allAccepted;
}

void VxEditConstraint::QueueExit(QLineEdit* edit)
{
    if (!edit || !Find(edit) || m_pendingExits.contains(edit))
        return;
    m_pendingExits.append(edit);
    QTimer::singleShot(0, this, [this] { RunPendingExits(); });
}

bool VxEditConstraint::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (edit && edit == m_advanceFrom) {
            // A key typed before the posted move happened belongs to the next control.
            if (QWidget* next = performAdvance()) {
                QCoreApplication::sendEvent(next, event);
                return true;
            }
        }
        if (_EditConstraint_s* c = edit ? Find(edit) : nullptr; c && c->enteredByAdvance) {
            c->enteredByAdvance = false;
            const QString typed = static_cast<QKeyEvent*>(event)->text();
            if (c->exitChar && typed == QString(QChar(c->exitChar)))
                return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        auto* edit = qobject_cast<QLineEdit*>(watched);
        // Switching windows (our own message box included) or opening a menu is not leaving
        // the field.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (_EditConstraint_s* c = edit ? Find(edit) : nullptr)
                c->enteredByAdvance = false;
            if (!m_checking)
                QueueExit(edit);
        }
    }
    return QObject::eventFilter(watched, event);
}

void VxEditConstraint::BuildFields(QWidget* panel, const QString& layout, QList<QLineEdit*>* list)
{
    int x = 0;
    QString label;
    QString field;
    bool inField = false;
    int depth = 0;
    QLineEdit* previous = nullptr;

    const auto flushLabel = [&] {
        if (label.isEmpty())
            return;
        auto* l = new QLabel(label, panel);
        l->move(x, 0);
        l->adjustSize();
        l->show();
        x += l->width() + 1;
        label.clear();
    };
    const auto flushField = [&] {
        inField = false;
        depth = 0;
        if (field.isEmpty())
            return;
        const QString text = field;
        field.clear();
        auto* edit = new QLineEdit(panel);
        edit->move(x, 0);
        edit->resize(edit->sizeHint());
        try {
            Add(text, edit);
        } catch (...) {
            delete edit;
            throw;
        }
        edit->show();
        if (previous)
            QWidget::setTabOrder(previous, edit);
        previous = edit;
        x += edit->width() + 1;
        if (list)
            list->append(edit);
    };

    const int n = int(layout.size());
    for (int i = 0; i < n; ++i) {
        const QChar ch = layout.at(i);
        if (!inField) {
            if (ch == QLatin1Char('%') && i + 1 < n && layout.at(i + 1) == QLatin1Char('%')) {
                label += QLatin1Char('%');
                ++i;
                if (i == n - 1)
                    flushLabel();
                continue;
            }
            if (ch == QLatin1Char('%')) {
                flushLabel();
                inField = true;
                field = QStringLiteral("%");
                if (i == n - 1)
                    flushField();
                continue;
            }
            label += ch;
            if (i == n - 1)
                flushLabel();
            continue;
        }
        if (ch == QLatin1Char('%')) {
            flushField();
            inField = true;
            field = QStringLiteral("%");
            if (i == n - 1)
                flushField();
            continue;
        }
        field += ch;
        bool ends = false;
        bool letter = false;
        switch (ch.unicode()) {
        case u'{':
            ++depth;
            break;
        case u'}':
            if (depth > 0 && --depth == 0)
                ends = true;
            break;
        case u'n':
            if (i < n - 1 && depth == 0)
                field += layout.at(++i);
            letter = true;
            break;
        case u'f':
        case u'h':
        case u'i':
        case u's':
        case u'u':
            letter = true;
            break;
        default:
            break;
        }
        if (letter && i < n - 1 && depth == 0 && layout.at(i + 1) != QLatin1Char('{'))
            ends = true;
        if (ends || i == n - 1)
            flushField();
    }

    panel->setProperty("caption", QString());
    if (auto* frame = qobject_cast<QFrame*>(panel))
        frame->setFrameShape(QFrame::NoFrame);
}
