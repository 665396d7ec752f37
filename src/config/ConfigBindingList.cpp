#include "config/ConfigBindingList.h"

ConfigBindingList::ConfigBindingList(const QStringList& keys)
{
    m_entries.reserve(keys.size());
    for (const QString& key : keys)
        Bind(key);
}

void ConfigBindingList::Bind(const QString& key)
{
    m_entries.append(ConfigBinding{key, QString(), true});
}

qsizetype ConfigBindingList::IndexOf(const QString& key) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).key.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString ConfigBindingList::Value(const QString& key) const
{
    const qsizetype i = IndexOf(key);
    return i < 0 ? QString() : m_entries.at(i).value;
}

bool ConfigBindingList::IsEnabled(const QString& key) const
{
    const qsizetype i = IndexOf(key);
    return i >= 0 && m_entries.at(i).enabled;
}

bool ConfigBindingList::SetValue(const QString& key, const QString& value)
{
    const qsizetype i = IndexOf(key);
    if (i < 0)
        return false;
    m_entries[i].value = value;
    return true;
}

bool ConfigBindingList::SetEnabled(const QString& key, bool enabled)
{
    const qsizetype i = IndexOf(key);
    if (i < 0)
        return false;
    m_entries[i].enabled = enabled;
    return true;
}

QStringList ConfigBindingList::Lines() const
{
    QStringList lines;
    lines.reserve(m_entries.size());
    for (const ConfigBinding& entry : m_entries)
        lines.append(entry.key + QLatin1Char('=') + entry.value);
    return lines;
}
