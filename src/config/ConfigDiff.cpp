#include "config/ConfigDiff.h"

#include "config/ConfigText.h"

#include <QHash>

namespace {

const QString None = QStringLiteral("(none)");
const QString Empty = QStringLiteral("(empty)");

struct Setting
{
    QString name;  // as the file spells it (keys with their position)
    QString value; // as the file holds it, trimmed
    QString key;   // what two files compare on
};

struct AclList
{
    QString name;
    QStringList entries;
};

struct ParsedConfig
{
    QList<Setting> settings;
    QHash<QString, qsizetype> byName; // lower-case name -> index in settings
    AclList acl11a;
    AclList acl11b;
};

bool is11aKey(const QString& upper)
{
    return upper == QLatin1String("80211A_WEP64_KEY") ||
           upper == QLatin1String("80211A_WEP128_KEY") ||
           upper == QLatin1String("80211A_WEP152_KEY");
}

bool is11bKey(const QString& upper)
{
    return upper == QLatin1String("80211B_WEP64_KEY") ||
           upper == QLatin1String("80211B_WEP128_KEY") ||
           upper == QLatin1String("80211B_WEP256_KEY");
}

ParsedConfig parse(const QStringList& lines)
{
    ParsedConfig out;
    int keys11a = 0;
    QHash<QString, int> keys11b;
    for (const QString& line : lines) {
        if (!line.contains(QLatin1Char('=')))
            continue;
        QString name = TrimConfigText(ConfigLineName(line));
        const QString upper = name.toUpper();
        const QString value = TrimConfigText(ConfigLineValue(line));
        QString key = value;
        if (upper == QLatin1String("80211A_ACL_MAC_ADD") ||
            upper == QLatin1String("80211B_ACL_MAC_ADD")) {
            AclList& acl = upper.startsWith(QLatin1String("80211A")) ? out.acl11a : out.acl11b;
            if (acl.name.isEmpty())
                acl.name = name;
            acl.entries.append(value.toUpper());
            continue;
        }
        if (upper == QLatin1String("80211A_ACL_CLR") || upper == QLatin1String("80211B_ACL_CLR"))
            continue;
        if (is11aKey(upper)) {
            name = QStringLiteral("80211a_wep_key%1").arg(++keys11a);
            key = NormalizeWepKey(value);
        } else if (is11bKey(upper)) {
            name += QString::number(++keys11b[upper]);
            key = NormalizeWepKey(value);
        }
        const QString lower = name.toLower();
        if (out.byName.contains(lower))
            continue; // the first line of a name wins
        out.byName.insert(lower, out.settings.size());
        out.settings.append({name, value, key});
    }
    return out;
}

QString shown(const QString& value)
{
    return value.isEmpty() ? Empty : value;
}

void diffAcl(const AclList& a, const AclList& b, QList<ConfigDifference>& out)
{
    const QString name = a.name.isEmpty() ? b.name : a.name;
    QStringList unmatched = b.entries;
    QStringList removed;
    for (const QString& entry : a.entries) {
        if (!unmatched.removeOne(entry))
            removed.append(entry);
    }
    for (const QString& entry : removed)
        out.append({ConfigDifference::AclRemoved, name, entry, QString()});
    for (const QString& entry : unmatched)
        out.append({ConfigDifference::AclAdded, name, QString(), entry});
}

// Whether the lines clear the access control list of the band ("80211A" or "80211B").
bool rewritesAcl(const QStringList& lines, const QString& band)
{
    const QString clear = band + QStringLiteral("_ACL_CLR");
    for (const QString& line : lines)
        if (line.contains(QLatin1Char('=')) &&
            TrimConfigText(ConfigLineName(line)).toUpper() == clear)
            return true;
    return false;
}

} // namespace

QList<ConfigDifference> CompareConfigLines(const QStringList& a, const QStringList& b)
{
    const ParsedConfig pa = parse(a);
    const ParsedConfig pb = parse(b);
    QList<ConfigDifference> out;
    for (const Setting& s : pa.settings) {
        const auto other = pb.byName.constFind(s.name.toLower());
        if (other == pb.byName.constEnd()) {
            out.append({ConfigDifference::OnlyInA, s.name, s.value, QString()});
            continue;
        }
        const Setting& t = pb.settings.at(*other);
        if (s.key != t.key)
            out.append({ConfigDifference::Changed, s.name, s.value, t.value});
    }
    for (const Setting& t : pb.settings) {
        if (!pa.byName.contains(t.name.toLower()))
            out.append({ConfigDifference::OnlyInB, t.name, QString(), t.value});
    }
    diffAcl(pa.acl11a, pb.acl11a, out);
    diffAcl(pa.acl11b, pb.acl11b, out);
    return out;
}

QString DescribeConfigDifference(const ConfigDifference& d)
{
    switch (d.kind) {
    case ConfigDifference::AclRemoved:
        return d.name + QStringLiteral(": removed ") + d.a;
    case ConfigDifference::AclAdded:
        return d.name + QStringLiteral(": added ") + d.b;
    case ConfigDifference::OnlyInA:
        return d.name + QStringLiteral(": ") + shown(d.a) + QStringLiteral(" -> ") + None;
    case ConfigDifference::OnlyInB:
        return d.name + QStringLiteral(": ") + None + QStringLiteral(" -> ") + shown(d.b);
    case ConfigDifference::Changed:
        break;
    }
    return d.name + QStringLiteral(": ") + shown(d.a) + QStringLiteral(" -> ") + shown(d.b);
}

QStringList DiffConfigLines(const QStringList& a, const QStringList& b)
{
    QStringList out;
    for (const ConfigDifference& d : CompareConfigLines(a, b))
        out.append(DescribeConfigDifference(d));
    return out;
}

bool CompareConfigFiles(const QString& fileA, const QString& fileB,
                        QList<ConfigDifference>& differences)
{
    differences.clear();
    QStringList a;
    QStringList b;
    if (!ReadConfigLines(fileA, a) || !ReadConfigLines(fileB, b))
        return false;
    differences = CompareConfigLines(a, b);
    return true;
}

bool DiffConfigFiles(const QString& fileA, const QString& fileB, QStringList& differences)
{
    differences.clear();
    QList<ConfigDifference> found;
    if (!CompareConfigFiles(fileA, fileB, found))
        return false;
    for (const ConfigDifference& d : found)
        differences.append(DescribeConfigDifference(d));
    return true;
}

QList<ConfigDifference> ChangesOfWrite(const QStringList& deviceLines,
                                       const QStringList& writtenLines)
{
    const bool acl11a = rewritesAcl(writtenLines, QStringLiteral("80211A"));
    const bool acl11b = rewritesAcl(writtenLines, QStringLiteral("80211B"));
    QList<ConfigDifference> changes;
    for (const ConfigDifference& d : CompareConfigLines(deviceLines, writtenLines)) {
        switch (d.kind) {
        case ConfigDifference::OnlyInA:
            continue;
        case ConfigDifference::AclRemoved:
        case ConfigDifference::AclAdded:
            if (d.name.startsWith(QLatin1String("80211a"), Qt::CaseInsensitive) ? acl11a : acl11b)
                changes.append(d);
            continue;
        case ConfigDifference::Changed:
        case ConfigDifference::OnlyInB:
            if (d.b.isEmpty())
                continue;
            // A key written as "keep" leaves the device's key as it is.
            if (d.name.startsWith(QLatin1String("80211a_wep_key"), Qt::CaseInsensitive) &&
                NormalizeWepKey(d.b).isEmpty())
                continue;
            changes.append(d);
            continue;
        }
    }
    return changes;
}
