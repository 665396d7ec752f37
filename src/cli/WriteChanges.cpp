#include "cli/WriteChanges.h"

#include "config/ConfigFileTarget.h"
#include "config/ConfigText.h"

#include <QSet>

namespace {

const QStringList AclNames = {
    QStringLiteral("80211A_ACL_CLR"), QStringLiteral("80211A_ACL_MAC_ADD"),
    QStringLiteral("80211B_ACL_CLR"), QStringLiteral("80211B_ACL_MAC_ADD")};

QString upperName(const QString& line)
{
    return TrimConfigText(ConfigLineName(line)).toUpper();
}

// Whether the lines clear the access control list of the band ("80211A" or "80211B").
bool rewritesAcl(const QStringList& lines, const QString& band)
{
    const QString clear = band + QStringLiteral("_ACL_CLR");
    for (const QString& line : lines)
        if (line.contains(QLatin1Char('=')) && upperName(line) == clear)
            return true;
    return false;
}

} // namespace

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

QStringList UnknownSettings(const ConfigFileTarget& target)
{
    QSet<QString> known(AclNames.begin(), AclNames.end());
    for (const ConfigBinding& b : target.settings().bindings.entries())
        known.insert(b.key.toUpper());
    QStringList unknown;
    // A line without a name is no setting: the model line of the console's own files (the
    // loader shows it as "=KTR-4200").
    for (const QString& line : target.fileView())
        if (line.contains(QLatin1Char('=')) && !upperName(line).isEmpty()
            && !known.contains(upperName(line)))
            unknown.append(TrimConfigText(ConfigLineName(line)));
    return unknown;
}
