#include "app/AppSettings.h"

#include "app/AppErrors.h"
#include "app/NimpInterfaces.h"
#include "common/VxCipher.h"
#include "common/VxError.h"
#include "common/VxIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <limits>

namespace {

class SettingsReader
{
public:
    SettingsReader(const QString& path, QStringList* warnings) : m_ini(path), m_warnings(warnings)
    {
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
        if (m_warnings)
            m_warnings->append(
                QStringLiteral(
                    "Setting %1=\"%2\" ignored: not a usable value, the default applies.")
                    .arg(QString::fromLatin1(key), raw));
    }

private:
    VxIni m_ini;
    QStringList* m_warnings;
};

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
        if (warnings)
            warnings->append(QString::fromLatin1(UnreadablePasswordText).arg(e.message()));
    }
    s.factoryDefaultPassword = QString();

    const QString nimpAddress = r.text("NimpAddress", QStringLiteral("255.255.255.255"));
    const QHostAddress parsed(nimpAddress);
    if (parsed.isNull() || parsed.protocol() != QAbstractSocket::IPv4Protocol)
        r.warn("NimpAddress", nimpAddress);
    else
        s.nimpAddress = parsed;
    s.nimpPort = quint16(r.integer("NimpPort", 64512, 1, 65535));
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
    s.parallelTransfers = int(r.integer("ParallelTransfers", 8, 1, MaxParallelTransfers));
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
