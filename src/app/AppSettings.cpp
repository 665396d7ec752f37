#include "app/AppSettings.h"

#include "app/AppErrors.h"
#include "app/NimpInterfaces.h"
#include "common/VxCipher.h"
#include "common/VxError.h"
#include "common/VxIni.h"
#include "common/VxProfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <limits>
#include <optional>

namespace {

// Why the file is no settings file the console can read, or nothing.
QString settingsFileProblem(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("does not exist");
    if (info.isDir())
        return QStringLiteral("is a folder");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read (%1)").arg(file.errorString());
    const QByteArray data = file.read(1024 * 1024);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("cannot be read (%1)").arg(file.errorString());
    // UTF-16: a byte order mark, or a zero byte in every other place.
    qsizetype zeros[2] = {0, 0};
    for (qsizetype i = 0; i < data.size(); ++i)
        if (data[i] == '\0')
            ++zeros[i % 2];
    if (data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF") ||
        (data.size() >= 4 && std::max(zeros[0], zeros[1]) * 10 >= data.size() / 2 * 9))
        return QStringLiteral("is UTF-16 text, which is not read (save it as UTF-8)");
    for (const char c : data)
        if ((uchar(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            return QStringLiteral("is not a text file");
    if (!ProfileHasSection(path, QString::fromLatin1(SettingsSection)))
        return QStringLiteral("has no [%1] section").arg(QString::fromLatin1(SettingsSection));
    return QString();
}

class SettingsReader
{
public:
    SettingsReader(const QString& path, QStringList* warnings)
        : m_ini(path), m_path(path), m_warnings(warnings)
    {
    }

    const QString& path() const { return m_path; }

    // The key's value as written, or nothing when it is missing or empty.
    std::optional<QString> given(const char* key) const
    {
        const QString raw = text(key, QString());
        return raw.isEmpty() ? std::nullopt : std::optional<QString>(raw);
    }

    QString text(const char* key, const QString& def) const
    {
        return m_ini.ReadString(QString::fromLatin1(SettingsSection), QString::fromLatin1(key),
                                def);
    }

    // A decimal integer within [low, high], or the default and a warning.
    qint64 integer(const char* key, qint64 def, qint64 low, qint64 high) const
    {
        const QString raw = text(key, QString::number(def));
        bool ok = false;
        const qint64 value = raw.toLongLong(&ok, 10);
        if (!ok || value < low || value > high) {
            warn(key, raw);
            return def;
        }
        return value;
    }

    bool flag(const char* key, bool def) const
    {
        return integer(key, def ? 1 : 0, std::numeric_limits<int>::min(),
                       std::numeric_limits<int>::max()) != 0;
    }

    // A setting in seconds, held in centiseconds.
    int seconds(const char* key, int defSeconds) const
    {
        return int(integer(key, defSeconds, 0, std::numeric_limits<int>::max() / 100) * 100);
    }

    void warn(const char* key, const QString& raw) const
    {
        note(QStringLiteral("Setting %1=\"%2\" ignored: not a usable value, the default applies.")
                 .arg(QString::fromLatin1(key), raw));
    }

    // A line about a value of the file, after one line that names the file.
    void note(const QString& line) const
    {
        if (!m_warnings)
            return;
        if (!m_named)
            m_warnings->append(QStringLiteral("Settings read from %1:")
                                   .arg(QDir::toNativeSeparators(m_path)));
        m_named = true;
        m_warnings->append(line);
    }

private:
    VxIni m_ini;
    QString m_path;
    QStringList* m_warnings;
    mutable bool m_named = false;
};

const QString NothingSentText =
    QStringLiteral("nothing is sent until it is mended (System dialog or system.ini)");

// Where installed programs live: root may write there, but a data folder there would mix the
// console's files with the system's and outlive the package.
bool isSystemProgramFolder(const QString& folder)
{
    static const char* const folders[] = {"/bin",      "/sbin",          "/usr/bin",
                                          "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"};
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    for (const char* f : folders)
        if (canonical == QLatin1String(f))
            return true;
    return false;
}

} // namespace

AppSettings LoadSettings(const QString& iniPath, QStringList* warnings)
{
    const SettingsReader r(iniPath, warnings);
    AppSettings s;
    if (const QString problem = settingsFileProblem(iniPath); !problem.isEmpty() && warnings)
        warnings->append(QStringLiteral("Settings file %1 %2: every setting has its default.")
                             .arg(QDir::toNativeSeparators(iniPath), problem));
    s.developerMode = r.text("fleetmgr", QStringLiteral("0")) == QLatin1String(DeveloperModeKey);
    s.filter = r.flag("Filter", true);
    s.verify = r.flag("Verify", true);
    s.applyReset = r.flag("ApplyReset", true);
    s.nimpSetTimeout = r.seconds("NimpSetTimeout", 5);
    s.rebootTime = r.seconds("RebootTime", 20);
    s.configUploadTime = r.seconds("ConfigUploadTime", 30);
    s.configDownloadTime = r.seconds("ConfigDownloadTime", 30);
    s.configFlashUpdateTime = r.seconds("ConfigFlashUpdateTime", 60);
    s.factoryResetTime = r.seconds("FactoryResetTime", 30);
    s.fwDownloadTime = r.seconds("FWDownloadTime", 60);
    s.fwFlashUpdateTime = r.seconds("FWFlashUpdateTime", 60);
    s.timingTolerance = r.seconds("TimingTolerance", 5);
    s.discoveryTimeout = r.seconds("DiscoveryTimeout", 5);
    s.discoveryRetry = int(r.integer("DiscoveryRetry", 1, 0, 1000));
    s.strictReplies = r.flag("StrictReplies", false);
    s.module = r.text("Module", QStringLiteral("KTR-4200"));

    const QString stored = r.text("NimpWirelessAP", QString());
    try {
        s.accessPassword = stored.isEmpty() ? QString() : DecryptText(stored);
    } catch (const VxError& e) {
        // A damaged value must not keep the console from starting: the System dialog is where
        // it is mended.
        s.accessPassword = QString();
        r.note(QString::fromLatin1(UnreadablePasswordText).arg(e.message()));
        // Signing with the empty password proves nothing: its digest anyone can compute.
        if (s.strictReplies)
            s.sendBlocked = QStringLiteral("StrictReplies=1 with a password that cannot be "
                                           "decrypted: ") + NothingSentText;
    }
    s.factoryDefaultPassword = QString();

    // Where requests go is not guessed: a value that cannot be used stops every send instead
    // of broadcasting to the default.
    if (const std::optional<QString> address = r.given("NimpAddress")) {
        const QHostAddress parsed(*address);
        if (parsed.isNull() || parsed.protocol() != QAbstractSocket::IPv4Protocol ||
            parsed == QHostAddress::AnyIPv4)
            s.sendBlocked = QStringLiteral("NimpAddress=\"%1\" is no IPv4 address to send to: ")
                                .arg(*address) + NothingSentText;
        else
            s.nimpAddress = parsed;
    }
    if (const std::optional<QString> port = r.given("NimpPort")) {
        bool ok = false;
        const uint value = port->toUInt(&ok, 10);
        if (!ok || value < 1 || value > 65535)
            s.sendBlocked = QStringLiteral("NimpPort=\"%1\" is no port (1 to 65535): ")
                                .arg(*port) + NothingSentText;
        else
            s.nimpPort = quint16(value);
    }
    if (!s.sendBlocked.isEmpty())
        r.note(s.sendBlocked);
    s.nimpInterfaces = ParseInterfaceNames(r.text("NimpInterface", QString()));
    s.tftpPort = quint16(r.integer("TftpPort", 69, 1, 65535));

    const QString tftpAddress = r.text("TftpServerAddress", QString());
    if (!tftpAddress.isEmpty()) {
        const QHostAddress a(tftpAddress);
        if (a.isNull() || a.protocol() != QAbstractSocket::IPv4Protocol)
            r.warn("TftpServerAddress", tftpAddress);
        else
            s.tftpServerAddress = a.toString();
    }
    s.parallelTransfers = int(r.integer("ParallelTransfers", MaxParallelTransfers, 1, MaxParallelTransfers));
    s.logKeepDays = int(r.integer("LogKeepDays", 30, 0, 100000));
    return s;
}

QString ResolveDataFolder(const QString& homeOption)
{
    if (!homeOption.isEmpty())
        return QDir(homeOption).absolutePath();
    const QString env = qEnvironmentVariable("NODEWARDEN_HOME");
    if (!env.isEmpty())
        return QDir(env).absolutePath();
    if (QCoreApplication::instance()) {
        const QString exeDir = QCoreApplication::applicationDirPath();
        const QFileInfo dir(exeDir);
        if (QFileInfo::exists(QDir(exeDir).filePath(QString::fromLatin1(SettingsFileName))) ||
            (dir.isWritable() && !isSystemProgramFolder(exeDir)))
            return exeDir;
    }
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void PrepareDataFolder(const QString& folder)
{
    QDir dir(folder);
    for (const char* sub : {"Config/Temp", "firmware"}) {
        if (!dir.mkpath(QString::fromLatin1(sub)))
            throw VxError(AppErrorDataFolder, QStringLiteral("Cannot create the folder %1")
                                                  .arg(dir.filePath(QString::fromLatin1(sub))));
    }
}
