#pragma once

#include "config/ChannelPlans.h"
#include "config/ConfigBindingList.h"
#include "config/ConfigFile.h"
#include "config/ConfigTarget.h"
#include "config/ConfigVerify.h"
#include "config/FirmwareRegion.h"

#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

// The configuration target without a window: the KTR-4200 settings held in memory, loaded
// from and saved to files exactly as the configuration window does it. The command line
// uses it to send one saved configuration to devices and to verify what they read back.
class ConfigFileTarget : public ConfigTarget
{
public:
    ConfigFileTarget();

    int LoadConfigFile(const QString& fileName) override;
    int SaveConfigFile(const QString& modelName, const QString& fileName) override;
    int VerifyConfigFiles(const QString& fileA, const QString& fileB) override;

    // Loads a file as the settings to write: every setting that the file holds is
    // selected, every other one is not; an access control list is selected when the file
    // clears or fills it. An unreadable file selects nothing and gives -1.
    int LoadSelectedSettings(const QString& fileName);
    // The same for lines already read (a file checked by ReadUserConfigFile).
    void LoadSelectedLines(const QStringList& lines);
    // One file for several devices: the device name, address and netmask are not written.
    void SetMultipleDevicesMode();

    ConfigSettings& settings() { return m_settings; }
    const ConfigSettings& settings() const { return m_settings; }
    QString Value(const QString& key) const { return m_settings.bindings.Value(key); }
    // Sets a stored value as a user's edit does; the country, regulatory domain and turbo
    // mode also refresh the channel lists. False for an unknown key.
    bool SetValue(const QString& key, const QString& value);
    bool SetSelected(const QString& key, bool selected);

    // The "F/W Version" of the device list's selected row, none when no row is selected.
    void SetSelectedFirmwareSource(std::function<std::optional<QString>()> source);
    // Tests give the target a region of its own instead of the process-wide one.
    void SetFirmwareRegion(FirmwareRegion* region);
    void SetLog(ConfigLogSink log) { m_log = std::move(log); }
    void SetDeveloperMode(bool on) { m_developerMode = on; }
    void SetLoadObserver(ConfigLoadObserver observer) { m_observer = std::move(observer); }

    // The lines of the last load or save, as the window's file view shows them.
    const QStringList& fileView() const { return m_fileView; }
    // The country the channel lists follow; after a load it may be a region default that
    // is not stored (and so not written).
    const QString& countryText() const { return m_region.countryText; }
    bool turboModeShown() const { return m_region.turboShown; }
    const ChannelLists& channelLists() const { return m_channels; }
    // The length choice the last load made for 802.11a key 1 to 4 (empty before any).
    QString KeyLengthChoice(int keyNumber) const;

private:
    void loadLines(const QStringList& lines);
    void RefreshChannelLists();

    ConfigSettings m_settings;
    QStringList m_fileView;
    RegionView m_region;
    ChannelLists m_channels;
    std::array<QString, 4> m_keyLengths;
    FirmwareRegion* m_firmwareRegion;
    std::function<std::optional<QString>()> m_selectedFirmware;
    ConfigLogSink m_log;
    bool m_developerMode = false;
    ConfigLoadObserver m_observer;
};
