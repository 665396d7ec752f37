#include "common/LogFormat.h"

namespace {
QString twoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}
} // namespace

QString LogTimePrefix(const QTime& time, bool developerMode)
{
    const QTime t = time.isValid() ? time : QTime(0, 0);
    const int ms = t.msec();
    const QString fraction = developerMode ? QStringLiteral("%1").arg(ms, 3, 10, QLatin1Char('0'))
                                           : twoDigits(ms / 10);
    return twoDigits(t.hour()) + QLatin1Char(':') + twoDigits(t.minute()) + QLatin1Char(' ')
           + twoDigits(t.second()) + QLatin1Char('\'') + fraction + QLatin1Char(' ');
}

QString LogLine(const QString& text, bool developerMode)
{
    return LogTimePrefix(QTime::currentTime(), developerMode) + text;
}
