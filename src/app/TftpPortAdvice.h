#pragma once

#include <QString>

// Ports below the kernel's first unprivileged port (1024 unless lowered) need root or the
// CAP_NET_BIND_SERVICE capability; whether this process has what binding `port` needs.
bool MayBindPort(quint16 port);

// The command that gives the program at programPath the capability to bind low ports.
QString BindCapabilityCommand(const QString& programPath);

// What to do when the TFTP server may not bind `port` (empty when it may): the capability
// command for this program, or another TftpPort in the settings file with the devices' traffic
// sent there.
QString TftpPortAdvice(quint16 port, const QString& settingsPath);
