#include "config/UserConfigFile.h"

#include "common/TextHelpers.h"
#include "config/ConfigFile.h"
#include "config/ConfigText.h"
#include "config/Ktr4200Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringDecoder>

namespace {

QString text(const char* s)
{
    return QString::fromLatin1(s);
}

// C0 controls but the tab, DEL, and (in text that was UTF-8) the C1 controls. In a Latin-1
// file the bytes 0x80 to 0x9F are often printable characters of the Windows code page, which
// the device takes as they are.
bool isControl(QChar ch, bool utf8)
{
    const char16_t c = ch.unicode();
    if (c == u'\t')
        return false;
    return c < 0x20 || c == 0x7F || (utf8 && c >= 0x80 && c <= 0x9F);
}

// A line names a setting of the console: what the loader makes of its name is a bound key or
// an access control list line.
bool holdsKnownSetting(const QStringList& lines)
{
    ConfigSettings settings;
    settings.bindings = MakeKtr4200BindingList();
    QStringList view;
    ConfigFile::LoadLines(settings, lines, &view);
    QSet<QString> known;
    for (const ConfigBinding& b : settings.bindings.entries())
        known.insert(b.key.toUpper());
    for (const char* acl :
         {"80211A_ACL_CLR", "80211A_ACL_MAC_ADD", "80211B_ACL_CLR", "80211B_ACL_MAC_ADD"})
        known.insert(text(acl));
    for (const QString& line : view)
        if (line.contains(QLatin1Char('=')) && known.contains(ConfigLineName(line).toUpper()))
            return true;
    return false;
}

} // namespace

UserConfigFile ReadUserConfigFile(const QString& fileName)
{
    UserConfigFile result;
    const QString shown = QDir::toNativeSeparators(fileName);
    const QFileInfo info(fileName);
    if (!info.exists()) {
        result.error = text(UserConfigText::Missing).arg(shown);
        return result;
    }
    if (!info.isFile()) {
        result.error = text(UserConfigText::NotAFile).arg(shown);
        return result;
    }
    if (info.size() > UserConfigFileLimit) {
        result.error = text(UserConfigText::TooLarge).arg(shown);
        return result;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = text(UserConfigText::Unreadable).arg(shown);
        return result;
    }
    // The size may have grown since it was looked at: never more than the limit is read.
    const QByteArray data = file.read(UserConfigFileLimit + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = text(UserConfigText::Unreadable).arg(shown);
        return result;
    }
    if (data.size() > UserConfigFileLimit) {
        result.error = text(UserConfigText::TooLarge).arg(shown);
        return result;
    }

    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder.decode(data);
    const bool utf8 = !decoder.hasError();
    if (!utf8)
        decoded = QString::fromLatin1(data);
    const QStringList lines = SplitConfigText(decoded);

    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString& line = lines.at(n);
        if (!line.contains(QLatin1Char('=')))
            continue;
        // Blanks and controls at either end are trimmed away when the file is loaded; what
        // stays is sent.
        const QString value = TrimConfigText(ConfigLineValue(line));
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar ch = value.at(i);
            const char* problem = isControl(ch, utf8)   ? UserConfigText::ControlCharacter
                                  : ch.unicode() > 0xFF ? UserConfigText::NotLatin1
                                                        : nullptr;
            if (!problem)
                continue;
            // A character beyond the 16-bit range comes as a pair of surrogates.
            const QString character =
                ch.isHighSurrogate() && i + 1 < value.size() ? value.mid(i, 2) : QString(ch);
            result.error = text(problem).arg(shown, QString::number(n + 1),
                                             EscapeUntrusted(TrimConfigText(ConfigLineName(line))),
                                             EscapeUntrusted(character));
            return result;
        }
    }
    // One setting, one line: which of two the device would keep is not for the console to
    // guess (the lines of an access control list and a device's numbered key lines aside).
    const ConfigBindingList bindings = MakeKtr4200BindingList();
    QHash<QString, qsizetype> firstLine;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        if (!lines.at(n).contains(QLatin1Char('=')))
            continue;
        const qsizetype b = bindings.IndexOf(TrimConfigText(ConfigLineName(lines.at(n))));
        if (b < 0)
            continue;
        const QString& key = bindings.at(b).key;
        if (const auto earlier = firstLine.constFind(key); earlier != firstLine.constEnd()) {
            result.error = text(UserConfigText::SetTwice)
                               .arg(shown, QString::number(*earlier + 1), QString::number(n + 1), key);
            return result;
        }
        firstLine.insert(key, n);
    }
    if (!holdsKnownSetting(lines)) {
        result.error = text(UserConfigText::NoKnownSetting).arg(shown);
        return result;
    }
    result.lines = lines;
    return result;
}
