#include "common/VxOptionList.h"

#include "common/VxError.h"

#include <stdexcept>

int StrToInt(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        throw VxError(kNotValidIntegerCode,
                      QString::fromLatin1(kNotValidIntegerText).replace(QLatin1String("%s"), text));
    return value;
}

VxOptionList::VxOptionList(const VxOptionRow* table, VxOptionValueType type, bool caseSensitive)
    : m_type(type), m_caseSensitive(caseSensitive)
{
    Append(table);
}

void VxOptionList::Append(const VxOptionRow* table)
{
    if (!table)
        return;
    for (const VxOptionRow* row = table; row->name; ++row) {
        VxOptionItem item;
        item.name = QString::fromUtf8(row->name);
        if (m_type == VxOptionValueType::Integer)
            item.value = row->value;
        else
            item.text = QString::fromUtf8(row->text ? row->text : "");
        m_items.append(std::move(item));
    }
}

const VxOptionItem& VxOptionList::Item(int index) const
{
    if (index < 0 || index >= m_items.size())
        throw std::out_of_range("VxOptionList::Item: index outside the list");
    return m_items[index];
}

bool VxOptionList::Equal(const QString& a, const QString& b) const
{
    if (m_caseSensitive)
        return QString::localeAwareCompare(a, b) == 0;
    return QString::localeAwareCompare(a.toCaseFolded(), b.toCaseFolded()) == 0;
}

bool VxOptionList::IsPrefix(const QString& prefix, const QString& text) const
{
    return text.startsWith(prefix, m_caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
}

int VxOptionList::FindByName(const QString& text) const
{
    for (int i = 0; i < m_items.size(); ++i) {
        const QString& name = m_items[i].name;
        const bool match =
            m_type == VxOptionValueType::Prefix ? IsPrefix(name, text) : Equal(name, text);
        if (match)
            return i;
    }
    return -1;
}

int VxOptionList::FindByValue(const QString& text) const
{
    if (m_type == VxOptionValueType::Integer) {
        if (text == u"(NULL)")
            return -1;
        const int value = StrToInt(text);
        for (int i = 0; i < m_items.size(); ++i)
            if (m_items[i].value == value)
                return i;
        return -1;
    }
    for (int i = 0; i < m_items.size(); ++i) {
        const QString& value = m_items[i].text;
        const bool match =
            m_type == VxOptionValueType::Prefix ? IsPrefix(value, text) : Equal(value, text);
        if (match)
            return i;
    }
    return -1;
}

int VxOptionList::SelectionIndex(const QString& text) const
{
    const int byName = FindByName(text);
    return byName >= 0 ? byName : FindByValue(text);
}

QString VxOptionList::ValueToName(const QString& text) const
{
    const int i = FindByValue(text);
    if (i < 0)
        return text;
    const VxOptionItem& item = m_items[i];
    if (m_type == VxOptionValueType::Prefix)
        return item.name + text.mid(item.text.size());
    return item.name;
}

QString VxOptionList::NameToValue(const QString& text) const
{
    const int i = FindByName(text);
    if (i < 0)
        return text;
    const VxOptionItem& item = m_items[i];
    switch (m_type) {
    case VxOptionValueType::Integer:
        return QString::number(item.value);
    case VxOptionValueType::Text:
        return item.text;
    case VxOptionValueType::Prefix:
        return item.text + text.mid(item.name.size());
    }
    return text;
}
