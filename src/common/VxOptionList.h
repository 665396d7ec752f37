#pragma once

#include <QList>
#include <QString>

// "%s" stands for the text that is not an integer.
inline constexpr const char* kNotValidIntegerText = "'%s' is not a valid integer value";
// The conversion error is not one of the library's numbered errors; it carries code 0.
inline constexpr int kNotValidIntegerCode = 0;

// The text as a decimal int32; throws VxError (kNotValidIntegerCode) with the conversion
// message otherwise.
int StrToInt(const QString& text);

// How the values of an option list are read and matched.
enum class VxOptionValueType
{
    Integer = 1, // int32 values, matched numerically
    Text = 2,    // text values, matched whole
    Prefix = 3,  // text values that match the beginning of a longer text
};

// One row of a static option table. Integer lists read `value`, the others `text`. A table
// ends with a row whose name is null.
struct VxOptionRow
{
    int value;
    const char* text;
    const char* name;
};

struct VxOptionItem
{
    int value = 0;
    QString text;
    QString name;
};

// A two-way table between stored values and the names a control shows for them.
class VxOptionList
{
public:
    VxOptionList(const VxOptionRow* table, VxOptionValueType type, bool caseSensitive);

    // Adds the table's rows after the existing ones.
    void Append(const VxOptionRow* table);

    int Count() const { return int(m_items.size()); }
    VxOptionValueType ValueType() const { return m_type; }
    bool CaseSensitive() const { return m_caseSensitive; }
    // Throws std::out_of_range for an index outside the list.
    const VxOptionItem& Item(int index) const;

    // Index of the first entry whose name is the text (for prefix lists: whose name begins
    // the text), or -1.
    int FindByName(const QString& text) const;
    // Index of the first entry whose value is the text (for prefix lists: whose value
    // begins the text), or -1. Integer lists: "(NULL)" gives -1; another text that is no
    // integer throws the conversion error.
    int FindByValue(const QString& text) const;

    // The item index a combo box or radio group listing the entries in order selects for
    // the text: by name, else by value (-1: none).
    int SelectionIndex(const QString& text) const;

    // The display form of a stored value; the text itself when no entry matches.
    QString ValueToName(const QString& text) const;
    // The stored form of a display name; the text itself when no entry matches.
    QString NameToValue(const QString& text) const;

private:
    bool Equal(const QString& a, const QString& b) const;
    bool IsPrefix(const QString& prefix, const QString& text) const;

    VxOptionValueType m_type;
    bool m_caseSensitive;
    QList<VxOptionItem> m_items;
};
