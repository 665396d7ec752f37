#include "app/Command.h"

#include <QStringList>

StatusValue StatusValue::FromText(const QString& text)
{
    if (const std::optional<DeviceState> state = DeviceStateFromText(text))
        return {*state, QString()};
    return {DeviceState::Other, text};
}

QString StatusValue::Text() const
{
    return state == DeviceState::Other ? text : DeviceStateText(state);
}

Command Command::Make(uint8_t type, DeviceRow* item, int32_t time, const QStringList& params)
{
    Command c;
    c.type = type;
    c.item = item;
    c.time = time;
    const QString first = params.value(0);
    switch (type) {
    case cmdSetRetry:
    case cmdAbortIfCount:
        c.count = first.trimmed().toInt(); // anything but a number is 0: no retry, no match
        break;
    case cmdStopAfterWave:
        c.count = first.trimmed().toInt();
        c.wave = params.value(1).trimmed().toInt();
        break;
    case cmdWaitAll:
        c.status = StatusValue::FromText(first);
        break;
    case cmdSetStatusIf:
        c.status = StatusValue::FromText(first);
        c.newStatus = StatusValue::FromText(params.value(1));
        break;
    case cmdLoadConfig:
        c.file = first;
        break;
    case cmdVerifyConfig:
        c.file = first;
        c.otherFile = params.value(1);
        break;
    case cmdSetIP:
        c.password = first;
        c.ip = params.value(1);
        c.netmask = params.value(2);
        break;
    case cmdWriteConfig:
    case cmdFirmwareDownload:
    case cmdReadConfig:
        c.password = first;
        c.file = params.value(1);
        break;
    default:
        c.password = first;
        break;
    }
    return c;
}

QStringList Command::Params() const
{
    switch (type) {
    case cmdWait:
    case cmdResetCount:
        return {};
    case cmdSetRetry:
    case cmdAbortIfCount:
        return {QString::number(count)};
    case cmdStopAfterWave:
        return {QString::number(count), QString::number(wave)};
    case cmdWaitAll:
        return {status.Text()};
    case cmdSetStatusIf:
        return {status.Text(), newStatus.Text()};
    case cmdLoadConfig:
        return {file};
    case cmdVerifyConfig:
        return {file, otherFile};
    case cmdSetIP:
        return {password, ip, netmask};
    case cmdWriteConfig:
    case cmdFirmwareDownload:
    case cmdReadConfig:
        return {password, file};
    default:
        return {password};
    }
}

QString WaitBound(std::initializer_list<WaitPart> parts, int32_t extraCs)
{
    const auto seconds = [](int32_t cs) {
        return cs % 100 == 0 ? QString::number(cs / 100) : QString::number(cs / 100.0, 'f', 2);
    };
    QStringList out;
    for (const WaitPart& p : parts) {
        QString text = QString::fromLatin1(p.name) + QLatin1Char(' ') + seconds(p.cs) + QStringLiteral(" s");
        if (p.factor != 1)
            text += QStringLiteral(" x ") + QString::number(p.factor);
        out.append(text);
    }
    if (extraCs > 0)
        out.append(seconds(extraCs) + QStringLiteral(" s"));
    return out.join(QStringLiteral(" + "));
}

WaitLimit SettingLimit(const char* name, int32_t settingCs, int32_t toleranceCs, int factor,
                       int32_t extraCs)
{
    return {settingCs * factor + toleranceCs + extraCs,
            WaitBound({{name, settingCs, factor}, {"TimingTolerance", toleranceCs}}, extraCs)};
}

WaitLimit ToleranceLimit(int32_t toleranceCs, int32_t extraCs)
{
    return {toleranceCs + extraCs, WaitBound({{"TimingTolerance", toleranceCs}}, extraCs)};
}

Command TimedCommand(uint8_t type, DeviceRow* item, const WaitLimit& limit,
                     const QStringList& params)
{
    Command c = Command::Make(type, item, limit.cs, params);
    c.bound = limit.text;
    return c;
}
