#include "common/TextHelpers.h"

QString ReplaceAll(const QString& templ, const QString& placeholder, const QString& value)
{
    if (placeholder.isEmpty())
        return templ;
    QString out;
    out.reserve(templ.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = templ.indexOf(placeholder, from);
        if (at < 0)
            break;
        out += QStringView(templ).mid(from, at - from);
        out += value;
        from = at + placeholder.size();
    }
    out += QStringView(templ).mid(from);
    return out;
}

namespace {
QString hexEscape(char prefix, char32_t code, int digits)
{
    return QString(QLatin1Char('\\')) + QLatin1Char(prefix) +
           QString::number(uint(code), 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}
} // namespace

QString EscapeUntrusted(const QString& text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        char32_t code = c.unicode();
        qsizetype width = 1;
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text.at(i + 1));
            width = 2;
        }
        // The space prints; every other separator (line and paragraph separators included),
        // control, format (bidirectional overrides), unassigned and lone surrogate does not.
        const QChar::Category category = QChar::category(code);
        const bool printable =
            code == U' ' || (QChar::isPrint(code) && category != QChar::Separator_Line &&
                             category != QChar::Separator_Paragraph);
        if (printable)
            out += QStringView(text).mid(i, width);
        else if (code == U'\r')
            out += QLatin1String("\\r");
        else if (code == U'\n')
            out += QLatin1String("\\n");
        else if (code == U'\t')
            out += QLatin1String("\\t");
        else if (code < 0x100)
            out += hexEscape('x', code, 2);
        else if (code < 0x10000)
            out += hexEscape('u', code, 4);
        else
            out += hexEscape('U', code, 8);
        i += width - 1;
    }
    return out;
}

QString DeviceIdentityText(const QString& name, const QString& mac, const QString& address)
{
    if (name.isEmpty())
        return QStringLiteral("%1 (%2)").arg(EscapeUntrusted(mac), EscapeUntrusted(address));
    return QStringLiteral("%1 (%2, %3)")
        .arg(EscapeUntrusted(name), EscapeUntrusted(mac), EscapeUntrusted(address));
}
