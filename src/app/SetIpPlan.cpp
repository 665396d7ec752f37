#include "app/SetIpPlan.h"

#include "app/DeviceListModel.h"
#include "common/AddressCheck.h"
#include "common/TextHelpers.h"

#include <QHostAddress>

namespace {

// The local subnet (not loopback) that holds the address, as "10.0.0.0/24 of eth0".
struct LocalSubnet
{
    QHostAddress network;
    int prefix = -1;
    QString name;
};

std::optional<LocalSubnet> subnetHolding(const QList<VxLocalInterface>& local,
                                         const QHostAddress& address)
{
    for (const VxLocalInterface& i : local) {
        if (i.loopback)
            continue;
        for (const QNetworkAddressEntry& e : i.ipv4)
            if (e.prefixLength() > 0 && address.isInSubnet(e.ip(), e.prefixLength()))
                return LocalSubnet{QHostAddress(e.ip().toIPv4Address() & e.netmask().toIPv4Address()),
                                   e.prefixLength(), i.name};
    }
    return std::nullopt;
}

} // namespace

QList<SetIpPlanEntry> PlanSetIP(const DeviceListModel& devices, const QList<DeviceRow*>& rows,
                                const QString& first, const QList<VxLocalInterface>& local)
{
    QList<SetIpPlanEntry> plan;
    QString address = first;
    for (DeviceRow* row : rows) {
        SetIpPlanEntry entry{row, row->ip, address, {}};
        if (!plan.isEmpty() && address.section(QLatin1Char('.'), 3) == QLatin1String("1") &&
            plan.last().to.section(QLatin1Char('.'), 3) == QLatin1String("254"))
            entry.warnings.append(QStringLiteral("the run wrapped past .254 to %1").arg(address));
        for (int i = 0; i < devices.Count(); ++i) {
            const DeviceRow* other = devices.Row(i);
            if (other != row && other->ip == address)
                entry.warnings.append(QStringLiteral("%1 is held by %2 (%3)")
                                          .arg(address, EscapeUntrusted(other->macText),
                                               EscapeUntrusted(other->deviceName)));
        }
        const QHostAddress target(address);
        for (const VxLocalInterface& i : local)
            for (const QNetworkAddressEntry& e : i.ipv4)
                if (e.ip() == target)
                    entry.warnings.append(
                        QStringLiteral("%1 is an address of this machine (%2)").arg(address, i.name));
        // The subnet the device answered in: out of it, the console no longer reaches it.
        const QHostAddress seenAt =
            row->discoverSource.isNull() ? QHostAddress(row->ip) : row->discoverSource;
        if (const std::optional<LocalSubnet> subnet = subnetHolding(local, seenAt);
            subnet && !target.isInSubnet(subnet->network, subnet->prefix))
            entry.warnings.append(QStringLiteral("%1 is outside %2/%3, the subnet of %4 the device "
                                                 "answered on: the console will not reach it there")
                                      .arg(address, subnet->network.toString())
                                      .arg(subnet->prefix)
                                      .arg(subnet->name));
        plan.append(entry);
        address = NextRunAddress(address);
    }
    return plan;
}

QStringList SetIpPlanLines(const QList<SetIpPlanEntry>& plan)
{
    QStringList lines;
    for (const SetIpPlanEntry& e : plan) {
        QString line = QStringLiteral("%1  %2  %3 -> %4")
                           .arg(EscapeUntrusted(e.row->macText), EscapeUntrusted(e.row->deviceName),
                                EscapeUntrusted(e.from), e.to);
        for (const QString& w : e.warnings)
            line += QStringLiteral("  ! ") + w;
        lines.append(line);
    }
    return lines;
}

bool SetIpPlanWarns(const QList<SetIpPlanEntry>& plan)
{
    for (const SetIpPlanEntry& e : plan)
        if (!e.warnings.isEmpty())
            return true;
    return false;
}

std::optional<QString> ParseNetmaskText(const QString& text)
{
    QString t = text.trimmed();
    if (t.contains(QLatin1Char('.')))
        return ParseDottedIPv4(t) ? std::optional<QString>(DottedIPv4(*ParseDottedIPv4(t)))
                                  : std::nullopt;
    if (t.startsWith(QLatin1Char('/')))
        t.remove(0, 1);
    bool ok = false;
    const int prefix = t.toInt(&ok, 10);
    if (!ok || prefix < 0 || prefix > 32)
        return std::nullopt;
    const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
    return DottedIPv4(mask);
}
