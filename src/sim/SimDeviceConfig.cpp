#include "sim/SimDeviceConfig.h"

#include <QRegularExpression>

namespace {

enum class Kind {
    Address,
    Choice,
    IntRange,
    Text,       // free text up to maxLength characters (0: any length)
    QuotedText, // written in double quotes
    Channel11a,
    Channel11b,
    Keys11a,    // the four 802.11a key lines are reported here
    Keys11b,    // one 802.11b key group (index in minimum)
};

struct SettingDef
{
    const char* key;
    Kind kind;
    const char* choices = nullptr; // "|" separated, compared case-insensitively
    int minimum = 0;
    int maximum = 0;
};

constexpr const char* EnableDisable = "enable|disable";
constexpr const char* AuthTypes = "open|shared|both|802.1x";
constexpr const char* TxPowers = "full|half|quarter|eighth|min";

// The settings in the order in which the device reports them.
const SettingDef Settings[] = {
    {"ip", Kind::Address},
    {"mask", Kind::Address},
    {"gateway", Kind::Address},
    {"dhcp_client_status", Kind::Choice, EnableDisable},
    {"device_name", Kind::QuotedText, nullptr, 0, 40},
    {"11a_11b_connection", Kind::Choice, EnableDisable},
    {"telnet_option", Kind::Choice, EnableDisable},
    {"telnet_timeout", Kind::Choice, "1|5|10|15|never"},
    {"country_code", Kind::Text},
    {"get_reg_domain", Kind::Text, nullptr, 0, 5},
    {"80211a_auth_type", Kind::Choice, AuthTypes},
    {"80211a_wep_status", Kind::Choice, "disable|enable"},
    {"80211a_channel", Kind::Channel11a},
    {"80211a_rate", Kind::Choice, "auto|6|9|12|18|24|36|48|54"},
    {"80211a_tx_power", Kind::Choice, TxPowers},
    {"80211a_ssid", Kind::QuotedText, nullptr, 0, 33},
    {"80211a_beacon_interval", Kind::IntRange, nullptr, 20, 1000},
    {"80211a_dtim", Kind::IntRange, nullptr, 1, 255},
    {"80211a_frag_threshold", Kind::IntRange, nullptr, 256, 2346},
    {"80211a_rts_threshold", Kind::IntRange, nullptr, 256, 2346},
    {"80211a_unipkt_sta2sta", Kind::Choice, EnableDisable},
    {"80211a_broadpkt_ap2sta", Kind::Choice, EnableDisable},
    {"80211a_active_key_index", Kind::Choice, "1|2|3|4"},
    {"", Kind::Keys11a},
    {"80211a_acl_mode", Kind::Choice, "disable|allow|deny"},
    {"80211a_turbo_mode", Kind::Choice, EnableDisable},
    {"80211b_auth_type", Kind::Choice, AuthTypes},
    {"80211b_wep_status", Kind::Choice, "disable|64|128|256"},
    {"80211b_channel", Kind::Channel11b},
    {"80211b_rate", Kind::Choice, "auto|1|2|5.5|11|22"},
    {"80211b_tx_power", Kind::Choice, TxPowers},
    {"80211b_ssid", Kind::QuotedText, nullptr, 0, 33},
    {"80211b_beacon_interval", Kind::IntRange, nullptr, 20, 1000},
    {"80211b_dtim", Kind::IntRange, nullptr, 1, 255},
    {"80211b_frag_threshold", Kind::IntRange, nullptr, 256, 2346},
    {"80211b_rts_threshold", Kind::IntRange, nullptr, 256, 2346},
    {"80211b_unipkt_sta2sta", Kind::Choice, EnableDisable},
    {"80211b_broadpkt_ap2sta", Kind::Choice, EnableDisable},
    {"80211b_active_key_index", Kind::Choice, "1|2|3|4"},
    {"", Kind::Keys11b, nullptr, 0},
    {"", Kind::Keys11b, nullptr, 1},
    {"", Kind::Keys11b, nullptr, 2},
    {"80211b_acl_mode", Kind::Choice, "disable|allow|deny"},
};

// Every 802.11a channel of any region the radio supports.
const int Channels11a[] = {34,  36,  38,  40,  42,  44,  46,  48,  50,  52,  56,  58,  60,
                           64,  100, 104, 108, 112, 116, 120, 124, 128, 132, 136, 140, 149,
                           152, 153, 157, 160, 161, 165};

const char* const KeyNames11b[3] = {"80211b_wep64_key", "80211b_wep128_key", "80211b_wep256_key"};
const int KeySizes11b[3] = {5, 13, 29};
const char* const AclAddNames[2] = {"80211a_acl_mac_add", "80211b_acl_mac_add"};
const char* const AclClearNames[2] = {"80211a_acl_clr", "80211b_acl_clr"};
// The access control tables of the radio hold this many stations.
constexpr int AclCapacity = 256;

// The key a console writes for "no new key" and for "no key at all".
const QString KeepKeyText = QStringLiteral("keep 0x00 0x00 0x00 0x00");
const QString EmptyKeyText = QStringLiteral("empty 0x00 0x00 0x00 0x00");

const SettingDef* FindSetting(const QString& lowerKey)
{
    for (const auto& def : Settings) {
        if (def.key[0] != '\0' && lowerKey == QLatin1String(def.key))
            return &def;
    }
    return nullptr;
}

bool IsInteger(const QString& text, int* value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    *value = text.toInt();
    return true;
}

bool ValueFits(const SettingDef& def, const QString& value)
{
    int number = 0;
    switch (def.kind) {
    case Kind::Address:
        return SimDeviceConfig::IsDottedAddress(value);
    case Kind::Choice: {
        const auto choices = QString::fromLatin1(def.choices).split(QLatin1Char('|'));
        return choices.contains(value, Qt::CaseInsensitive);
    }
    case Kind::IntRange:
        return IsInteger(value, &number) && number >= def.minimum && number <= def.maximum;
    case Kind::Text:
    case Kind::QuotedText:
        return def.maximum == 0 || value.size() <= def.maximum;
    case Kind::Channel11a:
        return IsInteger(value, &number) && std::find(std::begin(Channels11a), std::end(Channels11a),
                                                      number) != std::end(Channels11a);
    case Kind::Channel11b:
        return IsInteger(value, &number) && number >= 1 && number <= 14;
    case Kind::Keys11a:
    case Kind::Keys11b:
        break;
    }
    return false;
}

// Key text "0x1A 0x2B ..." (or "1A 2B ...") -> bytes; nullopt when a token is no byte.
std::optional<QByteArray> ParseKey(const QString& text)
{
    QByteArray bytes;
    const auto tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString token : tokens) {
        if (token.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            token = token.mid(2);
        if (token.isEmpty() || token.size() > 2)
            return std::nullopt;
        bool ok = false;
        const int value = token.toInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        bytes.append(char(value));
    }
    return bytes;
}

QString WrittenKey(const QByteArray& key)
{
    QStringList parts;
    for (char c : key)
        parts << QLatin1String("0x") + QStringLiteral("%1").arg(uint8_t(c), 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

bool IsAclEntry(const QString& text)
{
    static const QRegularExpression mac(
        QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    return mac.match(text).hasMatch();
}

QString Unquoted(QString value)
{
    if (value.startsWith(QLatin1Char('"')))
        value.remove(0, 1);
    if (value.endsWith(QLatin1Char('"')))
        value.chop(1);
    return value;
}

QString DefaultName(const char* key)
{
    return QLatin1String(key) + QLatin1Char(' ');
}

} // namespace

char SimDeviceConfig::RegionOfVersion(const QString& version)
{
    if (version.isEmpty())
        return 'w';
    const QChar last = version.back().toLower();
    if (last == QLatin1Char('e') || last == QLatin1Char('w'))
        return char(last.unicode());
    return 'u';
}

bool SimDeviceConfig::IsDottedAddress(const QString& text)
{
    const auto parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const auto& part : parts) {
        int value = 0;
        if (part.size() > 3 || !IsInteger(part, &value) || value > 255)
            return false;
    }
    return true;
}

void SimDeviceConfig::ResetToFactory(const QString& ip, const QString& mask,
                                     const QString& deviceName, char region)
{
    m_settings.clear();
    const auto set = [this](const char* key, const QString& value) {
        m_settings.insert(QLatin1String(key), Setting{DefaultName(key), value});
    };
    set("ip", ip);
    set("mask", mask);
    set("gateway", QStringLiteral("0.0.0.0"));
    set("dhcp_client_status", QStringLiteral("disable"));
    set("device_name", deviceName);
    set("11a_11b_connection", QStringLiteral("enable"));
    set("telnet_option", QStringLiteral("enable"));
    set("telnet_timeout", QStringLiteral("5"));
    set("country_code", region == 'e'   ? QStringLiteral("Europe")
                        : region == 'u' ? QStringLiteral("US")
                                        : QString());
    set("get_reg_domain", region == 'e'   ? QStringLiteral("etsi")
                          : region == 'u' ? QStringLiteral("fcc")
                                          : QString());
    for (const char* band : {"80211a", "80211b"}) {
        const QString b = QLatin1String(band);
        const auto setBand = [&](const char* suffix, const QString& value) {
            const QByteArray key = (b + QLatin1String(suffix)).toLatin1();
            set(key.constData(), value);
        };
        setBand("_auth_type", QStringLiteral("open"));
        setBand("_wep_status", QStringLiteral("disable"));
        setBand("_channel", b == QLatin1String("80211a") ? QStringLiteral("36") : QStringLiteral("6"));
        setBand("_rate", QStringLiteral("auto"));
        setBand("_tx_power", QStringLiteral("full"));
        setBand("_ssid", b == QLatin1String("80211a") ? QStringLiteral("wlan-a") : QStringLiteral("wlan-b"));
        setBand("_beacon_interval", QStringLiteral("100"));
        setBand("_dtim", QStringLiteral("1"));
        setBand("_frag_threshold", QStringLiteral("2346"));
        setBand("_rts_threshold", QStringLiteral("2346"));
        setBand("_unipkt_sta2sta", QStringLiteral("enable"));
        setBand("_broadpkt_ap2sta", QStringLiteral("enable"));
        setBand("_active_key_index", QStringLiteral("1"));
        setBand("_acl_mode", QStringLiteral("disable"));
    }
    set("80211a_turbo_mode", QStringLiteral("disable"));

    m_keys11a.fill(QByteArray(5, '\0'));
    for (int g = 0; g < 3; ++g) {
        m_keys11b[g].fill(QByteArray(KeySizes11b[g], '\0'));
        m_keyName11b[g] = DefaultName(KeyNames11b[g]);
    }
    for (int band = 0; band < 2; ++band)
        m_acl[band] = Acl{DefaultName(AclAddNames[band]), {}};
}

QString SimDeviceConfig::Value(const QString& key) const
{
    return m_settings.value(key.toLower()).value;
}

void SimDeviceConfig::SetValue(const QString& key, const QString& value)
{
    const QString lower = key.toLower();
    auto it = m_settings.find(lower);
    if (it == m_settings.end())
        m_settings.insert(lower, Setting{lower + QLatin1Char(' '), value});
    else
        it->value = value;
}

SimDeviceConfig::ApplyResult SimDeviceConfig::Apply(const QByteArray& fileText)
{
    ApplyResult result;
    // Key lines carry no number: the n-th line of a name is key n.
    int keyCount11a[1] = {0};
    int keyCount11b[3] = {0, 0, 0};
    const QString text = QString::fromLatin1(fileText);
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const auto lines = text.split(lineBreak);
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            // The model-name line, and the empty piece after the last line break.
            if (!line.trimmed().isEmpty() && i > 0)
                result.ignored << line;
            continue;
        }
        const QString rawName = line.left(eq);
        const QString value = line.mid(eq + 1).trimmed();
        switch (ApplyLine(rawName, value, keyCount11a, keyCount11b)) {
        case LineApplied:
            ++result.applied;
            break;
        case LineRefused:
            result.refused << line;
            break;
        case LineUnknown:
            result.ignored << line;
            break;
        }
    }
    return result;
}

SimDeviceConfig::LineOutcome SimDeviceConfig::ApplyLine(const QString& rawName,
                                                        const QString& value, int keyCount11a[1],
                                                        int keyCount11b[3])
{
    const QString lower = rawName.trimmed().toLower();

    if (lower == QLatin1String("80211a_wep64_key") || lower == QLatin1String("80211a_wep128_key") ||
        lower == QLatin1String("80211a_wep152_key")) {
        const int slot = keyCount11a[0]++;
        if (slot >= 4)
            return LineRefused;
        const QString upper = value.toUpper();
        if (upper.contains(QLatin1String("EMPTY"))) {
            m_keys11a[slot] = std::nullopt;
            return LineApplied;
        }
        if (upper.contains(QLatin1String("KEEP")))
            return LineApplied;
        const auto key = ParseKey(value);
        if (!key || (key->size() != 5 && key->size() != 13 && key->size() != 16))
            return LineRefused;
        m_keys11a[slot] = *key;
        return LineApplied;
    }

    for (int g = 0; g < 3; ++g) {
        if (lower != QLatin1String(KeyNames11b[g]))
            continue;
        const int slot = keyCount11b[g]++;
        if (slot >= 4)
            return LineRefused;
        // A key line without a value is a key the console's field left empty.
        const auto key = value.isEmpty() ? std::optional<QByteArray>(QByteArray()) : ParseKey(value);
        if (!key || (!key->isEmpty() && key->size() != KeySizes11b[g]))
            return LineRefused;
        m_keys11b[g][slot] = *key;
        m_keyName11b[g] = rawName;
        return LineApplied;
    }

    for (int band = 0; band < 2; ++band) {
        if (lower == QLatin1String(AclClearNames[band])) {
            m_acl[band].entries.clear();
            return LineApplied;
        }
        if (lower == QLatin1String(AclAddNames[band])) {
            auto& acl = m_acl[band];
            if (!IsAclEntry(value) || acl.entries.contains(value, Qt::CaseInsensitive) ||
                acl.entries.size() >= AclCapacity)
                return LineRefused;
            acl.entries << value;
            acl.addName = rawName;
            return LineApplied;
        }
    }

    const SettingDef* def = FindSetting(lower);
    if (!def)
        return LineUnknown;
    const QString stored = def->kind == Kind::QuotedText ? Unquoted(value) : value;
    if (!ValueFits(*def, stored))
        return LineRefused;
    m_settings.insert(lower, Setting{rawName, stored});
    return LineApplied;
}

QStringList SimDeviceConfig::RenderLines() const
{
    QStringList lines;
    for (const auto& def : Settings) {
        switch (def.kind) {
        case Kind::Keys11a:
            for (const auto& key : m_keys11a) {
                if (!key)
                    lines << QStringLiteral("80211a_wep64_key =") + EmptyKeyText;
                else if (key->size() <= 5)
                    lines << QStringLiteral("80211a_wep64_key =") + WrittenKey(*key);
                else if (key->size() <= 13)
                    lines << QStringLiteral("80211a_wep128_key =") + WrittenKey(*key);
                else
                    lines << QStringLiteral("80211a_wep152_key =") + WrittenKey(*key);
            }
            break;
        case Kind::Keys11b:
            for (const auto& key : m_keys11b[def.minimum])
                lines << m_keyName11b[def.minimum] + QLatin1Char('=') + WrittenKey(key);
            break;
        default: {
            const auto it = m_settings.constFind(QLatin1String(def.key));
            if (it == m_settings.cend() || it->value.isEmpty())
                break;
            const QString value =
                def.kind == Kind::QuotedText ? QLatin1Char('"') + it->value + QLatin1Char('"') : it->value;
            lines << it->name + QLatin1Char('=') + value;
            break;
        }
        }
    }
    for (const auto& acl : m_acl) {
        for (const auto& entry : acl.entries)
            lines << acl.addName + QLatin1Char('=') + entry;
    }
    return lines;
}

QByteArray SimDeviceConfig::Render(const QString& modelName) const
{
    QByteArray out = modelName.toLatin1() + "\r\n";
    for (const auto& line : RenderLines())
        out += line.toLatin1() + "\r\n";
    return out;
}
