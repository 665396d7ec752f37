#pragma once

// NIMP variables: the compiled-in definition tables, the lists a request carries and a
// reply fills, the records a list turns into, and the variable references of filter
// expressions.

#include "nimp/VxNIMPWire.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

// A table ends with an entry whose name is nullptr.
struct VxNIMPSubVarDef
{
    uint8_t id;
    const char* name;
    uint8_t type;
};

struct VxNIMPVarDef
{
    uint8_t id;
    const char* name;
    uint8_t type;
    uint8_t access;
    const VxNIMPSubVarDef* sub; // the group's sub-variables, or nullptr
};

struct VxNIMPSubVar
{
    uint8_t id = 0;
    QString name;
    uint8_t type = 0;
    QString value;
};

// The sub-variables a device returns in place of a group variable. Copies are deep.
class VxNIMPResponseVarList
{
public:
    VxNIMPResponseVarList() = default;
    explicit VxNIMPResponseVarList(const VxNIMPSubVarDef* table);

    int Count() const { return int(m_items.size()); }
    // Raises -1016 for an index outside the list.
    VxNIMPSubVar& Item(int index);
    const VxNIMPSubVar& Item(int index) const;

private:
    QList<VxNIMPSubVar> m_items;
};

struct VxNIMPVar
{
    uint8_t id = 0;
    QString name;
    uint8_t type = 0;
    uint8_t access = 0;
    std::optional<VxNIMPResponseVarList> sub;
    QString value;

    bool Readable() const { return (access & NIMP_ACCESS_READONLY) != 0; }
    bool Writable() const { return (access & NIMP_ACCESS_WRITEONLY) != 0; }
};

// An ordered list of variables with their values as text. Copies are deep (the entries
// are values), so a copy shares nothing with its origin.
class VxNIMPVarList
{
public:
    VxNIMPVarList() = default;
    // The list of the discovery table is named "Discovery Table"; others have no name.
    explicit VxNIMPVarList(const VxNIMPVarDef* table);
    // Adds the table's variables after the existing ones.
    void Append(const VxNIMPVarDef* table);

    QString Name() const { return m_name; }
    void SetName(const QString& name) { m_name = name; }
    int Count() const { return int(m_items.size()); }
    // Raises -1016 for an index outside the list.
    VxNIMPVar& Item(int index);
    const VxNIMPVar& Item(int index) const;

private:
    QString m_name;
    QList<VxNIMPVar> m_items;
};

extern const char* const NimpDiscoveryTableName; // "Discovery Table"

extern const VxNIMPSubVarDef NimpDiscoverySubTable[];
extern const VxNIMPVarDef NimpDiscoveryTable[];
extern const VxNIMPVarDef NimpVersionTable[];
extern const VxNIMPVarDef NimpIPTable[];
extern const VxNIMPVarDef NimpFileTransferTable[];
extern const VxNIMPVarDef NimpActionTable[];

// Values the device operations write into "Action".
enum NimpActionValue : int
{
    NIMP_ACTION_RESET = 1,
    NIMP_ACTION_FACTORY_RESET = 2,
    NIMP_ACTION_FLASH_UPDATE = 4,
    NIMP_ACTION_FETCH_FILE = 10,
    NIMP_ACTION_PUT_CONFIG = 13,
};

// The records of a request for the command: none for Discover, the writable variables
// with their values for Set, the readable ones without value for Get. Raises -1006 for
// another command, -1007 for a Set variable of no value type, -1017 for a value text
// its type cannot read.
QByteArray NimpRequestRecords(const VxNIMPVarList& vars, uint8_t command);

// Decodes a reply's records from offset 36 into the readable variables of the list, in
// order (a group takes one record per sub-variable). Returns 0, -1005 for an id that is
// not the expected one, or -1013 for a malformed record or a wrong value size; values
// decoded before the failing record keep their new text. Records after the last
// expected variable are ignored.
int NimpDecodeReplyRecords(const QByteArray& datagram, VxNIMPVarList& vars);

// The records of a reply that reports the list's readable variables (a group as its
// sub-variables): what a device sends back for a Get or a Discover.
QByteArray NimpReplyRecords(const VxNIMPVarList& vars);

// Replaces every variable reference ("$i" or "$i.j", 0-based indexes into the list and
// into a variable's sub-variables) with its value as a filter expression reads it.
// Inserted values are never searched for references. Raises -1016 for a sub-variable
// reference to a variable without sub-variables and for an index beyond its list.
QString Substitute(const QString& expression, const VxNIMPVarList& list);
