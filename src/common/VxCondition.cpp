#include "common/VxCondition.h"

#include "common/VxError.h"

#include <QDateTime>
#include <array>

namespace {

// Parentheses nest this deep at most; a deeper text is refused instead of exhausting the
// stack (filter texts carry values from network replies).
constexpr int kMaxNesting = 200;

[[noreturn]] void ThrowBadOperand()
{
    throw VxError(kBadLogicOperandCode, QString::fromLatin1(kBadLogicOperandText));
}

// The quoted region: the characters strictly between the first double quote and the next.
struct QuotedRegion
{
    qsizetype open = -1;
    qsizetype close = -1;

    explicit QuotedRegion(const QString& text)
    {
        const qsizetype first = text.indexOf(u'"');
        if (first < 0)
            return;
        const qsizetype second = text.indexOf(u'"', first + 1);
        if (second < 0)
            return;
        open = first;
        close = second;
    }

    bool Contains(qsizetype pos) const { return open >= 0 && pos > open && pos < close; }
};

// The ")" that closes the "(" at open, or -1.
qsizetype MatchingParen(const QString& text, qsizetype open)
{
    int depth = 0;
    for (qsizetype i = open; i < text.size(); ++i) {
        if (text[i] == u'(')
            ++depth;
        else if (text[i] == u')' && --depth == 0)
            return i;
    }
    return -1;
}

// Whether op occurs and its first occurrence lies outside the quoted region; at is set to it.
bool UsableOperator(const QString& text, const QuotedRegion& quoted, QChar op, qsizetype& at)
{
    at = text.indexOf(op);
    return at >= 0 && !quoted.Contains(at);
}

bool Evaluate(QString text, int depth)
{
    if (depth > kMaxNesting)
        ThrowBadOperand();
    // Right-hand parts and negations continue in this loop rather than by recursion, so a
    // long chain of terms costs no stack.
    bool negate = false;
    for (;;) {
        const QuotedRegion quoted(text);

        const qsizetype open = text.indexOf(u'(');
        if (open >= 0) {
            const qsizetype close = MatchingParen(text, open);
            if (close >= 0 && !quoted.Contains(open) && !quoted.Contains(close)) {
                const bool inner = Evaluate(text.mid(open + 1, close - open - 1), depth + 1);
                text =
                    text.left(open) + QLatin1String(inner ? "true" : "false") + text.mid(close + 1);
                continue;
            }
        }

        qsizetype at = -1;
        if (UsableOperator(text, quoted, u'|', at)) {
            if (Evaluate(text.left(at), depth + 1))
                return !negate;
            text = text.mid(at + 1);
            continue;
        }
        if (UsableOperator(text, quoted, u'&', at)) {
            if (!Evaluate(text.left(at), depth + 1))
                return negate;
            text = text.mid(at + 1);
            continue;
        }
        if (UsableOperator(text, quoted, u'!', at)) {
            // The "!" is taken to open the text, whatever stands before it.
            negate = !negate;
            text = text.mid(1);
            continue;
        }
        return EvaluateComparison(text) != negate;
    }
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

// Local date and time as days since 30 December 1899, the time as the fraction.
QString NowAsDayCount()
{
    static const QDate epoch(1899, 12, 30);
    const QDateTime now = QDateTime::currentDateTime();
    const double days =
        double(epoch.daysTo(now.date())) + now.time().msecsSinceStartOfDay() / 86400000.0;
    return QString::number(days, 'g', 15);
}

QString Side(const QString& raw)
{
    QString side = TrimBlanks(raw);
    if (side.size() >= 2 && side.startsWith(u'"') && side.endsWith(u'"'))
        side = side.mid(1, side.size() - 2);
    if (side.compare(u"NOW", Qt::CaseInsensitive) == 0)
        side = NowAsDayCount();
    return side;
}

} // namespace

bool EvaluateCondition(const QString& text)
{
    return Evaluate(text, 0);
}

bool EvaluateComparison(const QString& text)
{
    enum class Op
    {
        NotEqual,
        GreaterEqual,
        LessEqual,
        Greater,
        Less,
        Equal
    };
    static constexpr std::array<std::pair<const char16_t*, Op>, 6> kOperators{{
        {u"<>", Op::NotEqual},
        {u">=", Op::GreaterEqual},
        {u"<=", Op::LessEqual},
        {u">", Op::Greater},
        {u"<", Op::Less},
        {u"=", Op::Equal},
    }};
    for (const auto& [symbol, op] : kOperators) {
        const QString opText = QString::fromUtf16(symbol);
        const qsizetype at = text.indexOf(opText);
        if (at < 0)
            continue;
        // Code unit by code unit, a proper prefix being smaller; never numerically.
        const int order = QString::compare(Side(text.left(at)), Side(text.mid(at + opText.size())),
                                           Qt::CaseSensitive);
        switch (op) {
        case Op::NotEqual:
            return order != 0;
        case Op::GreaterEqual:
            return order >= 0;
        case Op::LessEqual:
            return order <= 0;
        case Op::Greater:
            return order > 0;
        case Op::Less:
            return order < 0;
        case Op::Equal:
            return order == 0;
        }
    }
    if (text.compare(u"true", Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    ThrowBadOperand();
}
