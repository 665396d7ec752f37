#include "common/VxProfile.h"

#include "common/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <vector>

namespace {

// One line of the file as byte offsets: [begin, contentEnd) is the text, [contentEnd, end)
// its line ending ("\n", "\r\n" or nothing on an unterminated last line).
struct Line
{
    qsizetype begin;
    qsizetype contentEnd;
    qsizetype end;
};

std::vector<Line> SplitLines(const QByteArray& data)
{
    std::vector<Line> lines;
    qsizetype begin = 0;
    while (begin < data.size()) {
        const qsizetype nl = data.indexOf('\n', begin);
        if (nl < 0) {
            lines.push_back({begin, data.size(), data.size()});
            break;
        }
        const qsizetype contentEnd = (nl > begin && data[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({begin, contentEnd, nl + 1});
        begin = nl + 1;
    }
    return lines;
}

QString LineText(const QByteArray& data, const Line& line)
{
    return QString::fromUtf8(data.constData() + line.begin, line.contentEnd - line.begin);
}

bool IsComment(const QString& trimmed)
{
    return trimmed.startsWith(u';') || trimmed.startsWith(u'#');
}

// The section name of a header line, or nothing for any other line.
std::optional<QString> HeaderName(const QString& trimmed)
{
    if (!trimmed.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return trimmed.mid(1, close - 1).trimmed();
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a key stands (or would stand) in a file.
struct Location
{
    int sectionLine = -1; // header of the first section with the name
    int keyLine = -1;     // the key's line inside that section
    int lastLine = -1;    // last key line of the section (the header when it has none)
};

Location Locate(const QByteArray& data, const std::vector<Line>& lines, const QString& section,
                const QString& key)
{
    Location loc;
    const QString wantSection = section.trimmed();
    const QString wantKey = key.trimmed();
    bool inTarget = false;
    for (int i = 0; i < int(lines.size()); ++i) {
        QString text = LineText(data, lines[size_t(i)]).trimmed();
        // Editors that save UTF-8 with a byte order mark put it before the first header.
        if (i == 0 && text.startsWith(QChar(0xFEFF)))
            text = text.mid(1).trimmed();
        if (const auto name = HeaderName(text)) {
            if (inTarget)
                break;
            if (SameName(*name, wantSection)) {
                inTarget = true;
                loc.sectionLine = loc.lastLine = i;
            }
            continue;
        }
        if (!inTarget || text.isEmpty() || IsComment(text))
            continue;
        const qsizetype eq = text.indexOf(u'=');
        if (eq < 0)
            continue;
        if (SameName(text.left(eq).trimmed(), wantKey)) {
            loc.keyLine = i;
            break;
        }
        loc.lastLine = i;
    }
    return loc;
}

bool ReadAll(const QString& path, QByteArray& data, bool& exists)
{
    QFile file(path);
    exists = file.exists();
    if (!exists) {
        data.clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly))
        return false;
    data = file.readAll();
    return file.error() == QFileDevice::NoError;
}

// The file that a write must replace: a symbolic link stays a link to the edited file.
QString WriteTarget(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

bool HasLineBreak(const QString& text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

std::optional<QString> ProfileReadString(const QString& path, const QString& section,
                                         const QString& key)
{
    QByteArray data;
    bool exists = false;
    if (!ReadAll(path, data, exists) || !exists)
        return std::nullopt;
    const auto lines = SplitLines(data);
    const Location loc = Locate(data, lines, section, key);
    if (loc.keyLine < 0)
        return std::nullopt;
    const QString text = LineText(data, lines[size_t(loc.keyLine)]);
    return text.mid(text.indexOf(u'=') + 1).trimmed();
}

bool ProfileHasSection(const QString& path, const QString& section)
{
    QByteArray data;
    bool exists = false;
    if (!ReadAll(path, data, exists) || !exists)
        return false;
    const auto lines = SplitLines(data);
    return Locate(data, lines, section, QString()).sectionLine >= 0;
}

bool ProfileWriteString(const QString& path, const QString& section, const QString& key,
                        const QString& value)
{
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    // Anything that would not read back as the same section, key and value is refused
    // rather than written as a different or an extra line.
    if (sectionName.isEmpty() || keyName.isEmpty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || sectionName.contains(u']') || keyName.contains(u'=') ||
        keyName.startsWith(u'[') || IsComment(keyName))
        return false;

    const QString target = WriteTarget(path);
    QByteArray data;
    bool exists = false;
    if (!ReadAll(target, data, exists))
        return false; // never replace a file whose content we could not read

    const auto lines = SplitLines(data);
    QByteArray eol = "\n";
    if (!lines.empty() && lines.front().end - lines.front().contentEnd == 2)
        eol = "\r\n";
    const QByteArray keyLine = keyName.toUtf8() + '=' + value.toUtf8();

    const Location loc = Locate(data, lines, sectionName, keyName);
    QByteArray out;
    out.reserve(data.size() + keyLine.size() + sectionName.size() + 8);
    if (loc.keyLine >= 0) {
        // Keep the key's spelling and the blanks around "=" as the file has them.
        const Line& line = lines[size_t(loc.keyLine)];
        qsizetype valueAt = data.indexOf('=', line.begin) + 1;
        while (valueAt < line.contentEnd && (data[valueAt] == ' ' || data[valueAt] == '\t'))
            ++valueAt;
        out.append(data.constData(), valueAt);
        out.append(value.toUtf8());
        out.append(data.constData() + line.contentEnd, data.size() - line.contentEnd);
    } else if (loc.sectionLine >= 0) {
        const Line& after = lines[size_t(loc.lastLine)];
        out.append(data.constData(), after.end);
        if (after.end == after.contentEnd)
            out.append(eol);
        out.append(keyLine + eol);
        out.append(data.constData() + after.end, data.size() - after.end);
    } else {
        out = data;
        if (!out.isEmpty() && !out.endsWith('\n'))
            out.append(eol);
        out.append('[' + sectionName.toUtf8() + ']' + eol);
        out.append(keyLine + eol);
    }

    return WriteWholeFile(target, out);
}
