#include "sim/Ktr4200FleetOptions.h"

#include "sim/SimDeviceConfig.h"

#include <QRegularExpression>

namespace {

struct OptionDoc
{
    const char* name;
    const char* value;
    const char* text;
};

// One row per option; the parser and --help both read this table.
const OptionDoc Docs[] = {
    {"--bind", "ADDR", "address of the fleet's UDP socket (default 0.0.0.0)"},
    {"--port", "N", "UDP port of the fleet's socket (default 64512; 0 picks a free port)"},
    {"--devices", "N", "number of devices (default 1; one socket carries thousands)"},
    {"--base-mac", "HEX", "MAC of device 0, twelve hex digits; device i has base + i (default 021A2B000001)"},
    {"--base-ip", "ADDR", "address of device 0; device i has base + i (default 192.168.0.50)"},
    {"--netmask", "ADDR", "netmask of every device (default 255.255.255.0)"},
    {"--factory-ip", "ADDR", "address after a factory reset (default 192.168.1.1)"},
    {"--factory-netmask", "ADDR", "netmask after a factory reset (default 255.255.255.0)"},
    {"--model", "TEXT", "model name of every device (default KTR-4200)"},
    {"--model-at", "I=TEXT", "model name of device I (repeatable), to mix in other models"},
    {"--password", "TEXT", "access password of every device (default empty)"},
    {"--password-at", "I=TEXT", "access password of device I (repeatable)"},
    {"--fw-version", "TEXT", "firmware version of every device (default 1.02.07u); its last letter is "
                             "the region: e Europe, w worldwide, other US"},
    {"--fw-version-at", "I=TEXT", "firmware version of device I (repeatable)"},
    {"--device-name-at", "I=TEXT",
     "device name of device I (repeatable; default AP- and its last six MAC digits)"},
    {"--tftp-port", "N", "port of the console's TFTP server (default 69)"},
    {"--tftp-timeout", "MS", "TFTP retransmission time-out (default 1000)"},
    {"--tftp-retries", "N", "TFTP retransmissions before a transfer fails (default 5)"},
    {"--tftp-block-delay", "MS", "wait before each TFTP ACK or DATA a device sends (default 0)"},
    {"--tftp-blksize", "N", "block size (8-65464) the devices ask the TFTP server for (default: none)"},
    {"--tftp-windowsize", "N", "window (1-64) the devices ask the TFTP server for (default: none)"},
    {"--reply-delay", "MS", "delay of every NIMP reply (default 0)"},
    {"--flash-time", "MS", "time to write flash before the flash update is acknowledged (default 2000)"},
    {"--reboot-time", "MS", "silence after a reset (default 5000)"},
    {"--factory-reset-time", "MS", "silence after a factory reset (default 8000)"},
    {"--drop-requests", "P", "fraction 0-1 of requests lost on the way in (default 0)"},
    {"--drop-replies", "P", "fraction 0-1 of replies lost on the way out (default 0)"},
    {"--seed", "N", "seed of the loss generator (default 1)"},
    {"--silent", "LIST", "devices that answer Discover but no Get or Set"},
    {"--not-done", "LIST", "devices that answer every Get and Set with \"not done\""},
    {"--tftp-fail", "LIST", "devices that abort every TFTP transfer and report the failure"},
    {"--bad-password", "LIST", "devices that answer every Get and Set with \"wrong password\""},
    {"--state-file", "PATH", "write the final state (JSON) here instead of to standard output"},
    {"--help", nullptr, "show this text"},
};

bool ToInt(const QString& text, int minimum, int maximum, int* out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return false;
    *out = value;
    return true;
}

bool ToFraction(const QString& text, double* out)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value >= 0.0 && value <= 1.0))
        return false;
    *out = value;
    return true;
}

// "I=TEXT" into the map; the index must be below count.
bool ToIndexed(const QString& text, int count, QMap<int, QString>* out)
{
    const int eq = text.indexOf(QLatin1Char('='));
    int index = 0;
    if (eq <= 0 || !ToInt(text.left(eq), 0, count - 1, &index))
        return false;
    out->insert(index, text.mid(eq + 1));
    return true;
}

} // namespace

bool ParseIndexList(const QString& text, int count, QSet<int>* out)
{
    QSet<int> result;
    if (text.trimmed().compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        for (int i = 0; i < count; ++i)
            result.insert(i);
        *out = result;
        return true;
    }
    static const QRegularExpression item(QStringLiteral("^\\s*(\\d+)\\s*(?:-\\s*(\\d+))?\\s*$"));
    const auto parts = text.split(QLatin1Char(','));
    for (const auto& part : parts) {
        const auto match = item.match(part);
        if (!match.hasMatch())
            return false;
        int first = 0;
        int last = 0;
        if (!ToInt(match.captured(1), 0, count - 1, &first))
            return false;
        last = first;
        if (match.capturedLength(2) > 0 && !ToInt(match.captured(2), first, count - 1, &last))
            return false;
        for (int i = first; i <= last; ++i)
            result.insert(i);
    }
    *out = result;
    return true;
}

QString FleetOptionsHelp()
{
    QString text = QStringLiteral(
        "Usage: ktr4200-sim [options]\n"
        "Simulates a fleet of KTR-4200 access points behind one UDP socket. Every device\n"
        "answers NIMP requests addressed to its MAC, carries out resets, factory resets,\n"
        "flash updates and TFTP transfers, and keeps its configuration.\n"
        "Runs until SIGINT or SIGTERM, then writes every device's state as JSON (to\n"
        "standard output or --state-file). SIGUSR1 writes the state at once and goes on.\n\n"
        "Options:\n");
    for (const auto& doc : Docs) {
        QString head = QLatin1String("  ") + QLatin1String(doc.name);
        if (doc.value)
            head += QLatin1Char(' ') + QLatin1String(doc.value);
        text += head.leftJustified(28) + QLatin1Char(' ') + QLatin1String(doc.text) + QLatin1Char('\n');
    }
    text += QStringLiteral(
        "\nLIST is a comma-separated list of device indexes and ranges (0,3,5-9) or \"all\".\n"
        "Indexes count from 0 in MAC order. Times are in milliseconds.\n"
        "A fetched file that names its version after \"FW_VERSION=\" (or is not text) is a\n"
        "firmware image; its flash update sets the device's version. Any other text is a\n"
        "configuration file.\n");
    return text;
}

bool ParseFleetOptions(const QStringList& args, Ktr4200FleetOptions* options, QString* stateFile,
                       QString* error, bool* help)
{
    *help = false;
    Ktr4200FleetOptions o;
    QString state;
    // Lists that depend on the device count are read after every other option.
    QList<QPair<QString, QString>> late;

    for (int i = 0; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool hasValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            *help = true;
            return true;
        }
        const OptionDoc* doc = nullptr;
        for (const auto& d : Docs) {
            if (name == QLatin1String(d.name))
                doc = &d;
        }
        if (!doc) {
            *error = QStringLiteral("unknown option: %1").arg(args[i]);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = args[++i];
        }
        const auto bad = [&] {
            *error = QStringLiteral("bad value for %1: %2").arg(name, value);
            return false;
        };
        int number = 0;
        if (name == QLatin1String("--bind")) {
            QHostAddress address;
            if (!address.setAddress(value) || address.protocol() != QAbstractSocket::IPv4Protocol)
                return bad();
            o.bindAddress = address;
        } else if (name == QLatin1String("--port")) {
            if (!ToInt(value, 0, 65535, &number))
                return bad();
            o.port = quint16(number);
        } else if (name == QLatin1String("--devices")) {
            if (!ToInt(value, 1, 100000, &o.deviceCount))
                return bad();
        } else if (name == QLatin1String("--base-mac")) {
            static const QRegularExpression mac(QStringLiteral("^[0-9A-Fa-f]{12}$"));
            QString compact = value;
            compact.remove(QLatin1Char(':')).remove(QLatin1Char('-'));
            if (!mac.match(compact).hasMatch())
                return bad();
            o.baseMac = compact.toUpper();
        } else if (name == QLatin1String("--base-ip") || name == QLatin1String("--netmask") ||
                   name == QLatin1String("--factory-ip") || name == QLatin1String("--factory-netmask")) {
            if (!SimDeviceConfig::IsDottedAddress(value))
                return bad();
            (name == QLatin1String("--base-ip")      ? o.baseIp
             : name == QLatin1String("--netmask")    ? o.netmask
             : name == QLatin1String("--factory-ip") ? o.factoryIp
                                                     : o.factoryNetmask) = value;
        } else if (name == QLatin1String("--model")) {
            o.model = value;
        } else if (name == QLatin1String("--password")) {
            o.password = value;
        } else if (name == QLatin1String("--fw-version")) {
            o.version = value;
        } else if (name == QLatin1String("--tftp-port")) {
            if (!ToInt(value, 1, 65535, &number))
                return bad();
            o.tftpPort = quint16(number);
        } else if (name == QLatin1String("--tftp-timeout")) {
            if (!ToInt(value, 1, 600000, &o.tftpTimeoutMs))
                return bad();
        } else if (name == QLatin1String("--tftp-retries")) {
            if (!ToInt(value, 0, 100, &o.tftpRetries))
                return bad();
        } else if (name == QLatin1String("--tftp-block-delay")) {
            if (!ToInt(value, 0, 60000, &o.tftpBlockDelayMs))
                return bad();
        } else if (name == QLatin1String("--tftp-blksize")) {
            if (!ToInt(value, 8, 65464, &o.tftpBlockSize))
                return bad();
        } else if (name == QLatin1String("--tftp-windowsize")) {
            if (!ToInt(value, 1, 64, &o.tftpWindowSize))
                return bad();
        } else if (name == QLatin1String("--reply-delay") || name == QLatin1String("--flash-time") ||
                   name == QLatin1String("--reboot-time") || name == QLatin1String("--factory-reset-time")) {
            if (!ToInt(value, 0, 3600000, &number))
                return bad();
            (name == QLatin1String("--reply-delay")   ? o.replyDelayMs
             : name == QLatin1String("--flash-time")  ? o.flashMs
             : name == QLatin1String("--reboot-time") ? o.rebootMs
                                                      : o.factoryResetMs) = number;
        } else if (name == QLatin1String("--drop-requests")) {
            if (!ToFraction(value, &o.dropRequests))
                return bad();
        } else if (name == QLatin1String("--drop-replies")) {
            if (!ToFraction(value, &o.dropReplies))
                return bad();
        } else if (name == QLatin1String("--seed")) {
            bool ok = false;
            o.seed = value.toUInt(&ok);
            if (!ok)
                return bad();
        } else if (name == QLatin1String("--state-file")) {
            if (value.isEmpty())
                return bad();
            state = value;
        } else {
            late.append({name, value});
        }
    }

    for (const auto& [name, value] : late) {
        bool ok = true;
        if (name == QLatin1String("--model-at"))
            ok = ToIndexed(value, o.deviceCount, &o.modelAt);
        else if (name == QLatin1String("--password-at"))
            ok = ToIndexed(value, o.deviceCount, &o.passwordAt);
        else if (name == QLatin1String("--fw-version-at"))
            ok = ToIndexed(value, o.deviceCount, &o.versionAt);
        else if (name == QLatin1String("--device-name-at"))
            ok = ToIndexed(value, o.deviceCount, &o.deviceNameAt);
        else if (name == QLatin1String("--silent"))
            ok = ParseIndexList(value, o.deviceCount, &o.silent);
        else if (name == QLatin1String("--not-done"))
            ok = ParseIndexList(value, o.deviceCount, &o.notDone);
        else if (name == QLatin1String("--tftp-fail"))
            ok = ParseIndexList(value, o.deviceCount, &o.tftpFail);
        else if (name == QLatin1String("--bad-password"))
            ok = ParseIndexList(value, o.deviceCount, &o.badPassword);
        if (!ok) {
            *error = QStringLiteral("bad value for %1: %2 (device indexes run from 0 to %3)")
                         .arg(name, value)
                         .arg(o.deviceCount - 1);
            return false;
        }
    }
    *options = o;
    if (stateFile)
        *stateFile = state;
    return true;
}
