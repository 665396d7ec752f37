#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One bound setting: its key, the value last taken from the control that shows it (the
// stored value) and whether that control is enabled, that is whether the setting is
// selected for writing. The configuration window fills value and enabled from its
// controls; the headless target keeps them itself.
struct ConfigBinding
{
    QString key;
    QString value;
    bool enabled = true;
};

// The bound settings in binding order, which is the order of the written file. Keys are
// looked up case-insensitively.
class ConfigBindingList
{
public:
    ConfigBindingList() = default;
    explicit ConfigBindingList(const QStringList& keys);

    // Appends a setting with an empty stored value, enabled.
    void Bind(const QString& key);

    qsizetype size() const { return m_entries.size(); }
    const ConfigBinding& at(qsizetype index) const { return m_entries.at(index); }
    ConfigBinding& operator[](qsizetype index) { return m_entries[index]; }
    const QList<ConfigBinding>& entries() const { return m_entries; }

    // -1 when no entry has this key.
    qsizetype IndexOf(const QString& key) const;
    bool Contains(const QString& key) const { return IndexOf(key) >= 0; }
    // Empty for an unknown key.
    QString Value(const QString& key) const;
    bool IsEnabled(const QString& key) const;
    // False for an unknown key; the list is unchanged then.
    bool SetValue(const QString& key, const QString& value);
    bool SetEnabled(const QString& key, bool enabled);

    // The entries as the window's file view shows them: key + "=" + stored value.
    QStringList Lines() const;

private:
    QList<ConfigBinding> m_entries;
};

// An access control list: MAC entries (six ":"-separated hex pairs) in list order. It is
// written only when enabled, as a clear line followed by one add line per entry.
struct ConfigAclList
{
    QStringList entries;
    bool enabled = true;
};

// Everything a configuration file is written from and loaded into.
struct ConfigSettings
{
    ConfigBindingList bindings;
    ConfigAclList acl11a;
    ConfigAclList acl11b;
};
