#include "config/ConfigText.h"

#include "common/WholeFile.h"

#include <QFile>
#include <QRegularExpression>

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

QStringList SplitConfigText(const QString& text)
{
    QStringList lines;
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
    return lines;
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
    lines = SplitConfigText(QString::fromLatin1(data));
    return true;
}

bool WriteConfigLines(const QString& fileName, const QStringList& lines)
{
    QByteArray data;
    for (const QString& line : lines) {
        data += line.toLatin1();
        data += "\r\n";
    }
    // Whole or not at all: a full disk must never leave a device file cut short for the TFTP
    // server to hand out.
    return WriteWholeFile(fileName, data);
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

bool IsConfigurationText(const QByteArray& head, QString* modelName)
{
    for (const char byte : head) {
        const auto b = static_cast<unsigned char>(byte);
        if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F)
            return false;
    }
    QStringList lines = SplitConfigText(QString::fromLatin1(head));
    lines.removeAll(QString());
    if (lines.size() < 2)
        return false;
    static const QRegularExpression model(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9 ._/+-]{0,39}$"));
    static const QRegularExpression setting(QStringLiteral("^\\s*[A-Za-z0-9_]+\\s*="));
    const QString first = TrimConfigText(lines.first());
    if (!model.match(first).hasMatch() || !setting.match(lines.at(1)).hasMatch())
        return false;
    if (modelName)
        *modelName = first;
    return true;
}
