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
