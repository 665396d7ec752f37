#include "config/ConfigVerify.h"

#include "config/ConfigText.h"

#include <QStringList>
#include <algorithm>
#include <optional>

namespace {

// The walk uses two kinds of failure: a named mismatch, and a comparison that could not be
// completed (reported like an unreadable file).
struct VerifyOutcome
{
    bool confirmed = false;
    bool loadFail = false;
    QString failingName;
};

QString NameKey(const QString& line)
{
    return TrimConfigText(ConfigLineName(line)).toUpper();
}

// Index of the first line named like n (either case, spacing significant); -1 if none.
qsizetype FirstLineOf(const QStringList& lines, const QString& name)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (ConfigLineName(lines.at(i)).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString ValueOf(const QStringList& lines, const QString& name)
{
    const qsizetype i = FirstLineOf(lines, name);
    return i < 0 ? QString() : ConfigLineValue(lines.at(i));
}

bool RemoveFirstLineOf(QStringList& lines, const QString& name)
{
    const qsizetype i = FirstLineOf(lines, name);
    if (i < 0)
        return false;
    lines.removeAt(i);
    return true;
}

bool Is11aKeyName(const QString& upperName)
{
    return upperName == QLatin1String("80211A_WEP64_KEY") ||
           upperName == QLatin1String("80211A_WEP128_KEY") ||
           upperName == QLatin1String("80211A_WEP152_KEY");
}

// 802.11a keys are paired by position whatever length their lines name.
void Rename11aKeys(QStringList& lines)
{
    for (QString& line : lines) {
        if (Is11aKeyName(NameKey(line)))
            line = QStringLiteral("80211a_wep_key=") + ConfigLineValue(line);
    }
}

VerifyOutcome Compare(QStringList a, QStringList b)
{
    VerifyOutcome out;
    a.erase(std::remove_if(a.begin(), a.end(),
                           [](const QString& line) {
                               return NameKey(line) == QLatin1String("80211A_CHANNEL");
                           }),
            a.end());
    Rename11aKeys(b);
    Rename11aKeys(a);

    // Collections of B's access control entries, created once A has cleared the band.
    std::optional<QStringList> acl11a;
    std::optional<QStringList> acl11b;

    qsizetype i = 0;
    while (i < a.size()) {
        const QString n = ConfigLineName(a.at(i));
        const QString upper = TrimConfigText(n).toUpper();
        const QString va = TrimConfigText(ValueOf(a, n));
        const QString vb = TrimConfigText(ValueOf(b, n));
        const bool isKey =
            upper.contains(QLatin1String("KEY")) && upper.contains(QLatin1String("WEP"));

        if (va.isEmpty() || upper == QLatin1String("80211A_ACL_CLR") ||
            upper == QLatin1String("80211B_ACL_CLR") ||
            upper == QLatin1String("FIRMWARE_FILE_NAME")) {
            if (upper == QLatin1String("80211A_ACL_CLR"))
                acl11a.emplace();
            else if (upper == QLatin1String("80211B_ACL_CLR"))
                acl11b.emplace();
            // An empty key line still holds its key's position: it takes its read-back
            // twin along, or every later key of the name would meet the wrong line of B.
            if (va.isEmpty() && isKey)
                RemoveFirstLineOf(b, n);
            a.removeAt(i);
            continue;
        }
        if (va.compare(vb, Qt::CaseInsensitive) == 0) {
            RemoveFirstLineOf(b, n);
            a.removeAt(i);
            continue;
        }
        if (isKey) {
            const bool confirmed = va.toUpper().contains(QLatin1String("KEEP")) ||
                                   NormalizeWepKey(vb) == NormalizeWepKey(va);
            if (confirmed) {
                if (!RemoveFirstLineOf(b, n)) {
                    out.loadFail = true;
                    return out;
                }
                a.removeAt(i);
                continue;
            }
            ++i;
            continue;
        }
        out.failingName = n;
        return out;
    }

    if (!a.isEmpty() || acl11a || acl11b) {
        for (const QString& line : std::as_const(b)) {
            const QString upper = NameKey(line);
            if (acl11a && upper == QLatin1String("80211A_ACL_MAC_ADD"))
                acl11a->append(line);
            else if (acl11b && upper == QLatin1String("80211B_ACL_MAC_ADD"))
                acl11b->append(line);
        }
        QStringList collected;
        if (acl11a)
            collected += *acl11a;
        if (acl11b)
            collected += *acl11b;
        if (collected.size() != a.size()) {
            if (a.isEmpty())
                out.loadFail = true;
            else
                out.failingName = ConfigLineName(a.first());
            return out;
        }
        for (const QString& line : std::as_const(collected)) {
            if (NameKey(line) != NameKey(a.first())) {
                out.failingName = ConfigLineName(line);
                return out;
            }
            a.removeFirst();
        }
    }

    if (!a.isEmpty()) {
        out.failingName = ConfigLineName(a.first());
        return out;
    }
    out.confirmed = true;
    return out;
}

} // namespace

int VerifyConfigFiles(const QString& fileA, const QString& fileB, const ConfigLogSink& log,
                      bool developerMode)
{
    const auto report = [&](const QString& line) {
        if (developerMode && log)
            log(line);
    };
    QStringList a;
    QStringList b;
    if (!ReadConfigLines(fileA, a) || !ReadConfigLines(fileB, b)) {
        report(kVerifyLoadFailText);
        return -1;
    }
    const VerifyOutcome outcome = Compare(std::move(a), std::move(b));
    if (outcome.confirmed)
        return 0;
    if (outcome.loadFail)
        report(kVerifyLoadFailText);
    else
        report(QStringLiteral("Verify Error:") + outcome.failingName + QStringLiteral(",") +
               QStringLiteral(" of ") + fileA + QStringLiteral(" compare to ") + fileB);
    return -1;
}
