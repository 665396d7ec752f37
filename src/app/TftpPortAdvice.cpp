#include "app/TftpPortAdvice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

constexpr int CapNetBindService = 10; // bit of CAP_NET_BIND_SERVICE in the capability sets
constexpr quint16 DefaultUnprivilegedStart = 1024;

const char* const AdviceText =
    "To let the program use UDP port %1, give it the capability once: %2. Or set TftpPort in "
    "the [System] section of "
    "%3 to a port from %4 up and let the devices' TFTP requests reach that port, for instance "
    "with a firewall rule that redirects UDP port %1 to it.";

quint16 firstUnprivilegedPort()
{
    QFile f(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
    if (!f.open(QIODevice::ReadOnly))
        return DefaultUnprivilegedStart;
    bool ok = false;
    const uint value = f.readAll().trimmed().toUInt(&ok);
    return ok && value <= 65535 ? quint16(value) : DefaultUnprivilegedStart;
}

// The effective capabilities of this process as /proc reports them (empty set when unknown).
quint64 effectiveCapabilities()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("CapEff:")) {
            bool ok = false;
            const quint64 caps = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok ? caps : 0;
        }
    }
    return 0;
}

} // namespace

bool MayBindPort(quint16 port)
{
    if (port == 0 || port >= firstUnprivilegedPort())
        return true;
    return (effectiveCapabilities() >> CapNetBindService) & 1;
}

QString BindCapabilityCommand(const QString& programPath)
{
    return QStringLiteral("sudo setcap cap_net_bind_service=+ep ") + programPath;
}

QString TftpPortAdvice(quint16 port, const QString& settingsPath)
{
    if (MayBindPort(port))
        return QString();
    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationFilePath()
                                                         : QStringLiteral("nodewarden");
    return QString::fromLatin1(AdviceText)
        .arg(port)
        .arg(BindCapabilityCommand(program), QDir::toNativeSeparators(settingsPath))
        .arg(firstUnprivilegedPort());
}
