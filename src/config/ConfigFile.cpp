#include "config/ConfigFile.h"

#include "config/ConfigText.h"

#include <QHash>

namespace {

// 802.11a key values with a fixed meaning, both written under the 64-bit name.
const QString kKeepKeyValue = QStringLiteral("keep 0x00 0x00 0x00 0x00");
const QString kEmptyKeyValue = QStringLiteral("empty 0x00 0x00 0x00 0x00");
const QString kEmptyKeyStored = QStringLiteral("empty");

// Display lengths in characters of 5- and 13-byte keys: the bounds of the length names.
constexpr qsizetype kKey64Chars = 14;
constexpr qsizetype kKey128Chars = 38;

bool IsWepKeyName(const QString& name)
{
    return name.contains(QLatin1String("KEY"), Qt::CaseInsensitive) &&
           name.contains(QLatin1String("WEP"), Qt::CaseInsensitive);
}

bool Is11bKeyName(const QString& key)
{
    return IsWepKeyName(key) && !key.contains(QLatin1String("80211A"), Qt::CaseInsensitive);
}

QString WrittenLine(const QString& name, const QString& value)
{
    return name + QLatin1String(" =") + value;
}

// The written line for one binding with its (already trimmed) value.
QString TransformBinding(const QString& key, const QString& value)
{
    if (IsWepKeyName(key)) {
        if (Is11bKeyName(key))
            return WrittenLine(key.left(key.size() - 1),
                               value.isEmpty() ? value : AddHexPrefixes(value));
        if (value.isEmpty())
            return WrittenLine(QStringLiteral("80211a_wep64_key"), kKeepKeyValue);
        if (value == kEmptyKeyStored)
            return WrittenLine(QStringLiteral("80211a_wep64_key"), kEmptyKeyValue);
        const QString name = value.size() <= kKey64Chars    ? QStringLiteral("80211a_wep64_key")
                             : value.size() <= kKey128Chars ? QStringLiteral("80211a_wep128_key")
                                                            : QStringLiteral("80211a_wep152_key");
        return WrittenLine(name, AddHexPrefixes(value));
    }
    if (key == QLatin1String("device_name") || key == QLatin1String("80211a_ssid") ||
        key == QLatin1String("80211b_ssid")) {
        return WrittenLine(key,
                           value.isEmpty() ? value : QLatin1Char('"') + value + QLatin1Char('"'));
    }
    if (key == QLatin1String("80211a_acl_mode") || key == QLatin1String("80211b_acl_mode")) {
        if (value == QLatin1String("accept"))
            return WrittenLine(key, QStringLiteral("allow"));
        if (value == QLatin1String("reject"))
            return WrittenLine(key, QStringLiteral("deny"));
    }
    return WrittenLine(key, value);
}

// The trimmed value of the first line named like `name` (either case, spacing kept).
QString FirstValueOf(const QStringList& lines, const QString& name)
{
    for (const QString& line : lines) {
        if (line.indexOf(QLatin1Char('=')) >= 0 &&
            ConfigLineName(line).compare(name, Qt::CaseInsensitive) == 0)
            return TrimConfigText(ConfigLineValue(line));
    }
    return QString();
}

bool LaterLineHasValue(const QStringList& lines, qsizetype from, const QString& name)
{
    for (qsizetype j = from; j < lines.size(); ++j) {
        if (ConfigLineName(lines.at(j)).compare(name, Qt::CaseInsensitive) == 0 &&
            !TrimConfigText(ConfigLineValue(lines.at(j))).isEmpty())
            return true;
    }
    return false;
}

// Drops the settings without value and puts a "shared" authentication
// after the WEP status line that follows it.
void DropEmptyLines(QStringList& lines)
{
    qsizetype i = 0;
    while (i < lines.size()) {
        const QString name = ConfigLineName(lines.at(i));
        const QString value = FirstValueOf(lines, name);
        if (value.isEmpty()) {
            // Key lines carry no number: the device takes the n-th line of a name as key n.
            // An empty key with a set key after it must stay, or that key would move up
            // into the empty key's place.
            if (IsWepKeyName(name) && (!TrimConfigText(ConfigLineValue(lines.at(i))).isEmpty() ||
                                       LaterLineHasValue(lines, i + 1, name))) {
                ++i;
                continue;
            }
            lines.removeAt(i);
            continue;
        }
        const QString trimmedName = TrimConfigText(name);
        if ((trimmedName == QLatin1String("80211a_auth_type") ||
             trimmedName == QLatin1String("80211b_auth_type")) &&
            value == QLatin1String("shared") && i + 1 < lines.size()) {
            lines.swapItemsAt(i, i + 1);
            i += 2;
            continue;
        }
        ++i;
    }
}

void AppendAcl(QStringList& lines, const ConfigAclList& acl, const QString& clearName,
               const QString& addName)
{
    if (!acl.enabled)
        return;
    lines.append(WrittenLine(clearName, QString()));
    for (const QString& entry : acl.entries)
        lines.append(WrittenLine(addName, entry));
}

// The names of lines that are no binding of their own: the access control lists and the key
// lines a device stores (the n-th line of a name is key n).
bool IsListLineName(const QString& upper)
{
    static const QStringList names = {
        QStringLiteral("80211A_ACL_CLR"),   QStringLiteral("80211A_ACL_MAC_ADD"),
        QStringLiteral("80211B_ACL_CLR"),   QStringLiteral("80211B_ACL_MAC_ADD"),
        QStringLiteral("80211A_WEP64_KEY"), QStringLiteral("80211A_WEP128_KEY"),
        QStringLiteral("80211A_WEP152_KEY"), QStringLiteral("80211B_WEP64_KEY"),
        QStringLiteral("80211B_WEP128_KEY"), QStringLiteral("80211B_WEP256_KEY")};
    return names.contains(upper);
}

} // namespace

QString ConfigFile::DeviceSpelling(const ConfigBindingList& bindings, const QString& name)
{
    const QString upper = name.toUpper();
    if (const qsizetype i = bindings.IndexOf(upper); i >= 0)
        return bindings.at(i).key;
    // Every name a device stores is written in lower case.
    return IsListLineName(upper) ? name.toLower() : name;
}

QStringList ConfigFile::BuildLines(const ConfigSettings& settings, const QString& modelName)
{
    QStringList lines;
    const ConfigBindingList& bindings = settings.bindings;
    lines.reserve(bindings.size() + settings.acl11a.entries.size() +
                  settings.acl11b.entries.size() + 3);
    for (const ConfigBinding& entry : bindings.entries()) {
        // An unselected 802.11b key has no line: an empty one would stay behind a set key
        // of its name and clear that key on the device. (The window selects the four keys
        // of a length together, so there it never differs from dropping empty values.)
        if (!entry.enabled && Is11bKeyName(entry.key))
            continue;
        const QString value = entry.enabled ? TrimConfigText(entry.value) : QString();
        lines.append(TransformBinding(entry.key, value));
    }
    DropEmptyLines(lines);
    AppendAcl(lines, settings.acl11a, QStringLiteral("80211a_acl_clr"),
              QStringLiteral("80211a_acl_mac_add"));
    AppendAcl(lines, settings.acl11b, QStringLiteral("80211b_acl_clr"),
              QStringLiteral("80211b_acl_mac_add"));
    if (!modelName.isEmpty())
        lines.prepend(modelName);
    return lines;
}

int ConfigFile::Save(const ConfigSettings& settings, const QString& modelName,
                     const QString& fileName, QStringList* fileView)
{
    const QStringList lines = BuildLines(settings, modelName);
    if (fileView)
        *fileView = lines;
    return WriteConfigLines(fileName, lines) ? 0 : -1;
}

QString ConfigFile::KeyLengthChoice(const QString& normalizedKey)
{
    if (normalizedKey.isEmpty())
        return QStringLiteral("64");
    if (normalizedKey == kEmptyKeyStored)
        return QStringLiteral("NULL");
    if (normalizedKey.size() > kKey128Chars)
        return QStringLiteral("152");
    if (normalizedKey.size() > kKey64Chars)
        return QStringLiteral("128");
    return QStringLiteral("64");
}

int ConfigFile::Load(ConfigSettings& settings, const QString& fileName, QStringList* fileView,
                     const ConfigLoadObserver& observer)
{
    QStringList lines;
    const bool readOk = ReadConfigLines(fileName, lines);
    LoadLines(settings, std::move(lines), fileView, observer);
    return readOk ? 0 : -1;
}

void ConfigFile::LoadLines(ConfigSettings& settings, QStringList lines, QStringList* fileView,
                           const ConfigLoadObserver& observer)
{
    settings.acl11a.entries.clear();
    settings.acl11b.entries.clear();

    int keys11a = 0;
    QHash<QString, int> keys11b;
    for (QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        // A name the console knows means its setting in any letter case; from here on it is
        // spelled as the device spells it, so that every rule below applies to it.
        QString name =
            eq < 0 ? QString() : DeviceSpelling(settings.bindings, TrimConfigText(line.left(eq)));
        QString value = TrimConfigText(eq < 0 ? line : line.mid(eq + 1));
        const QString upper = name.toUpper();

        if (IsWepKeyName(upper)) {
            value = NormalizeWepKey(value);
            if (upper == QLatin1String("80211A_WEP64_KEY") ||
                upper == QLatin1String("80211A_WEP128_KEY") ||
                upper == QLatin1String("80211A_WEP152_KEY")) {
                ++keys11a;
                name = QStringLiteral("80211a_wep_key%1").arg(keys11a);
                if (keys11a <= 4 && observer.keyLengthChosen)
                    observer.keyLengthChosen(keys11a, KeyLengthChoice(value));
            } else if (upper == QLatin1String("80211B_WEP64_KEY") ||
                       upper == QLatin1String("80211B_WEP128_KEY") ||
                       upper == QLatin1String("80211B_WEP256_KEY")) {
                name += QString::number(++keys11b[upper]);
            }
        } else if (name == QLatin1String("device_name") || name == QLatin1String("80211a_ssid") ||
                   name == QLatin1String("80211b_ssid")) {
            value.remove(QLatin1Char('"'));
        } else if (upper == QLatin1String("80211A_ACL_MAC_ADD")) {
            settings.acl11a.entries.append(value);
        } else if (upper == QLatin1String("80211B_ACL_MAC_ADD")) {
            settings.acl11b.entries.append(value);
        } else if (name == QLatin1String("80211a_acl_mode") ||
                   name == QLatin1String("80211b_acl_mode")) {
            if (value == QLatin1String("allow"))
                value = QStringLiteral("accept");
            else if (value == QLatin1String("deny"))
                value = QStringLiteral("reject");
        }
        line = name + QLatin1Char('=') + value;
    }

    // For a repeated name the first line wins.
    QHash<QString, QString> firstValues;
    for (const QString& line : std::as_const(lines)) {
        const QString upper = ConfigLineName(line).toUpper();
        if (!firstValues.contains(upper))
            firstValues.insert(upper, ConfigLineValue(line));
    }
    ConfigBindingList& bindings = settings.bindings;
    for (qsizetype i = 0; i < bindings.size(); ++i) {
        ConfigBinding& entry = bindings[i];
        entry.value = firstValues.value(entry.key.toUpper());
        if (observer.valueLoaded)
            observer.valueLoaded(entry.key, entry.value);
    }

    if (fileView)
        *fileView = lines;
}
