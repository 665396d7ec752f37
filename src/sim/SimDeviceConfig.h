#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The configuration an access point keeps in flash, as the device itself sees it: the
// settings by name, the four 802.11a keys, the twelve 802.11b keys and the two access
// control lists. It reads the configuration files the console sends and writes the file
// the console reads back. It is deliberately independent of the console's configuration
// code, so that the two ends can disagree.
//
// Names are kept as the console spelled them (letter case and the blanks before "="), so
// that a file read back names every setting the way it was written.
class SimDeviceConfig
{
public:
    // Firmware region from the version's last letter: 'e' Europe, 'w' worldwide, any
    // other letter US. It decides the factory country and regulatory domain.
    static char RegionOfVersion(const QString& version);

    // Factory settings. ip, mask and deviceName are the device's own factory values.
    void ResetToFactory(const QString& ip, const QString& mask, const QString& deviceName,
                        char region);

    // Setting value by its lower-case key ("ip", "80211a_dtim"), without quotes; empty
    // when the device has no value.
    QString Value(const QString& key) const;
    // Sets a value by key, keeping the spelling of its name.
    void SetValue(const QString& key, const QString& value);

    struct ApplyResult
    {
        int applied = 0;
        QStringList refused; // lines whose value the device does not take
        QStringList ignored; // lines without "=" or with a name the device does not know
    };
    // Applies a configuration file line by line: accepted settings take effect, refused
    // ones leave the old value.
    ApplyResult Apply(const QByteArray& fileText);

    // The configuration file the device reports: its model name on the first line, then
    // one "name=value" line per setting, CR LF after every line.
    QByteArray Render(const QString& modelName) const;
    QStringList RenderLines() const;

    const QStringList& AclEntries(int band) const { return m_acl[band].entries; }

    // Whether a text is a dotted IPv4 address of four numbers 0-255.
    static bool IsDottedAddress(const QString& text);

private:
    struct Setting
    {
        QString name; // as spelled in the file that set it, blanks before "=" included
        QString value;
    };
    struct Acl
    {
        QString addName = QString();
        QStringList entries;
    };

    enum LineOutcome { LineApplied, LineRefused, LineUnknown };
    LineOutcome ApplyLine(const QString& rawName, const QString& value, int keyCount11a[1],
                          int keyCount11b[3]);

    QMap<QString, Setting> m_settings;
    // nullopt is the key the console calls "empty" (no key).
    std::array<std::optional<QByteArray>, 4> m_keys11a;
    std::array<std::array<QByteArray, 4>, 3> m_keys11b; // 64, 128, 256 bits
    std::array<QString, 3> m_keyName11b;
    std::array<Acl, 2> m_acl;
};
