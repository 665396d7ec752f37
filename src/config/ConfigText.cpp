#include "config/ConfigText.h"

#include <QFile>
#include <QSaveFile>

QString TrimConfigText(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= ' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

QString ConfigLineName(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.left(eq);
}

QString ConfigLineValue(const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    return eq < 0 ? QString() : line.mid(eq + 1);
}

bool ReadConfigLines(const QString& fileName, QStringList& lines)
{
    lines.clear();
    if (fileName.isEmpty())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;

    const QString text = QString::fromLatin1(data);
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < size && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(text.mid(start));
    return true;
}

bool WriteConfigLines(const QString& fileName, const QStringList& lines)
{
    if (fileName.isEmpty())
        return false;
    QByteArray data;
    for (const QString& line : lines) {
        data += line.toLatin1();
        data += "\r\n";
    }
    // Written beside the target and renamed over it, so that a full disk never leaves a
    // device file cut in half for the TFTP server to hand out.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString NormalizeWepKey(const QString& text)
{
    const QString upper = TrimConfigText(text.toUpper());
    if (upper.contains(QLatin1String("EMPTY")))
        return QStringLiteral("empty");
    if (upper.contains(QLatin1String("KEEP")))
        return QString();

    QStringList tokens = upper.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString& token : tokens) {
        if (token.startsWith(QLatin1String("0X")))
            token.remove(0, 2);
        while (token.size() < 2)
            token.prepend(QLatin1Char('0'));
    }
    return tokens.join(QLatin1Char(' '));
}

QString AddHexPrefixes(const QString& text)
{
    if (text.isEmpty())
        return text;
    QString out = QStringLiteral("0x");
    out.reserve(text.size() * 2);
    for (const QChar c : text) {
        out += c;
        if (c == QLatin1Char(' '))
            out += QLatin1String("0x");
    }
    return out;
}

QString ReadConfigValue(const QString& fileName, const QString& key)
{
    QStringList lines;
    if (!ReadConfigLines(fileName, lines))
        return QString();
    const QString wanted = TrimConfigText(key);
    for (const QString& line : lines) {
        if (TrimConfigText(ConfigLineName(line)).compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        QString value = TrimConfigText(ConfigLineValue(line));
        if (value.startsWith(QLatin1Char('"')))
            value.remove(0, 1);
        if (value.endsWith(QLatin1Char('"')))
            value.chop(1);
        return value;
    }
    return QString();
}
