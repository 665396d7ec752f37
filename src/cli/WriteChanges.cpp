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

} // namespace

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
