#include "sim/SimDevice.h"

#include <QJsonArray>

QString SimDevice::MacText() const
{
    return QString::fromLatin1(mac.toHex().toUpper());
}

QJsonObject SimDevice::ToJson(int64_t now) const
{
    QJsonObject c;
    c[QStringLiteral("discover")] = counters.discover;
    c[QStringLiteral("get")] = counters.get;
    c[QStringLiteral("set")] = counters.set;
    c[QStringLiteral("setIp")] = counters.setIp;
    c[QStringLiteral("reset")] = counters.reset;
    c[QStringLiteral("factoryReset")] = counters.factoryReset;
    c[QStringLiteral("flash")] = counters.flash;
    c[QStringLiteral("fetch")] = counters.fetch;
    c[QStringLiteral("put")] = counters.put;
    c[QStringLiteral("unsupported")] = counters.unsupported;
    c[QStringLiteral("wrongPassword")] = counters.wrongPassword;
    c[QStringLiteral("notDone")] = counters.notDone;
    c[QStringLiteral("malformed")] = counters.malformed;
    c[QStringLiteral("ignoredBusy")] = counters.ignoredBusy;
    c[QStringLiteral("droppedRequests")] = counters.droppedRequests;
    c[QStringLiteral("droppedReplies")] = counters.droppedReplies;
    c[QStringLiteral("replies")] = counters.replies;
    c[QStringLiteral("tftpFailures")] = counters.tftpFailures;

    QJsonObject faults;
    faults[QStringLiteral("silent")] = silent;
    faults[QStringLiteral("notDone")] = notDone;
    faults[QStringLiteral("tftpFail")] = tftpFail;
    faults[QStringLiteral("badPassword")] = badPassword;

    QJsonObject o;
    o[QStringLiteral("index")] = index;
    o[QStringLiteral("mac")] = MacText();
    o[QStringLiteral("model")] = model;
    o[QStringLiteral("ip")] = IpAddress();
    o[QStringLiteral("netmask")] = Netmask();
    o[QStringLiteral("version")] = version;
    o[QStringLiteral("deviceName")] = DeviceName();
    o[QStringLiteral("password")] = password;
    o[QStringLiteral("rebooting")] = now < busyUntil;
    o[QStringLiteral("transferPending")] = !transfer.isNull();
    o[QStringLiteral("flashPending")] = flashPending;
    o[QStringLiteral("faults")] = faults;
    o[QStringLiteral("counters")] = c;
    o[QStringLiteral("config")] = QJsonArray::fromStringList(config.RenderLines());
    // Which image (or configuration) the device got last, for tests that prove what it flashed.
    o[QStringLiteral("lastFileSha256")] = lastReceived.sha256;
    o[QStringLiteral("flashedFirmwareSha256")] = flashedFirmwareSha256;
    o[QStringLiteral("transferServers")] = QJsonArray::fromStringList(transferServers);
    if (!lastReceived.name.isEmpty()) {
        QJsonObject file;
        file[QStringLiteral("name")] = lastReceived.name;
        file[QStringLiteral("kind")] = lastReceived.kind;
        file[QStringLiteral("size")] = double(lastReceived.size);
        file[QStringLiteral("sha256")] = lastReceived.sha256;
        file[QStringLiteral("server")] = lastReceived.server;
        o[QStringLiteral("lastFileReceived")] = file;
    }
    if (lastApply.applied || !lastApply.refused.isEmpty() || !lastApply.ignored.isEmpty()) {
        QJsonObject apply;
        apply[QStringLiteral("applied")] = lastApply.applied;
        apply[QStringLiteral("refused")] = QJsonArray::fromStringList(lastApply.refused);
        apply[QStringLiteral("ignored")] = QJsonArray::fromStringList(lastApply.ignored);
        o[QStringLiteral("lastConfigApplied")] = apply;
    }
    return o;
}
