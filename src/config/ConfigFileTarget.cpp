#include "config/ConfigFileTarget.h"

#include "config/ConfigText.h"
#include "config/Ktr4200Settings.h"

#include <QSet>

ConfigFileTarget::ConfigFileTarget() : m_firmwareRegion(&ProcessFirmwareRegion())
{
    m_settings.bindings = MakeKtr4200BindingList();
    // As the window starts: everything selected except the address and netmask.
    m_settings.bindings.SetEnabled(QStringLiteral("ip"), false);
    m_settings.bindings.SetEnabled(QStringLiteral("mask"), false);
    RefreshChannelLists();
}

int ConfigFileTarget::LoadConfigFile(const QString& fileName)
{
    QStringList lines;
    const bool readOk = ReadConfigLines(fileName, lines);
    loadLines(lines);
    return readOk ? 0 : -1;
}

void ConfigFileTarget::loadLines(const QStringList& lines)
{
    ConfigLoadObserver observer;
    observer.keyLengthChosen = [this](int keyNumber, const QString& choice) {
        m_keyLengths[keyNumber - 1] = choice;
        if (m_observer.keyLengthChosen)
            m_observer.keyLengthChosen(keyNumber, choice);
    };
    observer.valueLoaded = m_observer.valueLoaded;
    ConfigFile::LoadLines(m_settings, lines, &m_fileView, observer);

    m_region.countryText = Value(QStringLiteral("country_code"));
    std::optional<QString> firmware;
    if (m_selectedFirmware)
        firmware = m_selectedFirmware();
    ApplyFirmwareRegion(firmware, *m_firmwareRegion, m_region);
    RefreshChannelLists();
}

int ConfigFileTarget::SaveConfigFile(const QString& modelName, const QString& fileName)
{
    return ConfigFile::Save(m_settings, modelName, fileName, &m_fileView);
}

int ConfigFileTarget::VerifyConfigFiles(const QString& fileA, const QString& fileB)
{
    return ::VerifyConfigFiles(fileA, fileB, m_log, m_developerMode);
}

int ConfigFileTarget::LoadSelectedSettings(const QString& fileName)
{
    QStringList lines;
    const bool readOk = ReadConfigLines(fileName, lines);
    LoadSelectedLines(lines);
    return readOk ? 0 : -1;
}

void ConfigFileTarget::LoadSelectedLines(const QStringList& lines)
{
    loadLines(lines);
    QSet<QString> names;
    for (const QString& line : std::as_const(m_fileView))
        names.insert(ConfigLineName(line).toUpper());

    ConfigBindingList& bindings = m_settings.bindings;
    for (qsizetype i = 0; i < bindings.size(); ++i)
        bindings[i].enabled = names.contains(bindings.at(i).key.toUpper());
    m_settings.acl11a.enabled = names.contains(QStringLiteral("80211A_ACL_CLR")) ||
                                names.contains(QStringLiteral("80211A_ACL_MAC_ADD"));
    m_settings.acl11b.enabled = names.contains(QStringLiteral("80211B_ACL_CLR")) ||
                                names.contains(QStringLiteral("80211B_ACL_MAC_ADD"));
}

void ConfigFileTarget::SetMultipleDevicesMode()
{
    for (const char* key : {"device_name", "ip", "mask"})
        m_settings.bindings.SetEnabled(QLatin1String(key), false);
}

bool ConfigFileTarget::SetValue(const QString& key, const QString& value)
{
    if (!m_settings.bindings.SetValue(key, value))
        return false;
    if (key.compare(QLatin1String("country_code"), Qt::CaseInsensitive) == 0)
        m_region.countryText = value;
    if (key.compare(QLatin1String("country_code"), Qt::CaseInsensitive) == 0 ||
        key.compare(QLatin1String("get_reg_domain"), Qt::CaseInsensitive) == 0 ||
        key.compare(QLatin1String("80211a_turbo_mode"), Qt::CaseInsensitive) == 0)
        RefreshChannelLists();
    return true;
}

bool ConfigFileTarget::SetSelected(const QString& key, bool selected)
{
    return m_settings.bindings.SetEnabled(key, selected);
}

void ConfigFileTarget::SetSelectedFirmwareSource(std::function<std::optional<QString>()> source)
{
    m_selectedFirmware = std::move(source);
}

void ConfigFileTarget::SetFirmwareRegion(FirmwareRegion* region)
{
    m_firmwareRegion = region ? region : &ProcessFirmwareRegion();
}

QString ConfigFileTarget::KeyLengthChoice(int keyNumber) const
{
    if (keyNumber < 1 || keyNumber > 4)
        return QString();
    return m_keyLengths[keyNumber - 1];
}

void ConfigFileTarget::RefreshChannelLists()
{
    m_channels = MakeChannelLists(m_region.countryText, Value(QStringLiteral("80211a_turbo_mode")),
                                  Value(QStringLiteral("get_reg_domain")));
}
