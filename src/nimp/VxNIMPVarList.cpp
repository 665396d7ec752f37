#include "nimp/VxNIMPVarList.h"

#include "common/VxError.h"

const char* const NimpDiscoveryTableName = "Discovery Table";

// A device's discovery reply carries exactly these records, in this order.
const VxNIMPSubVarDef NimpDiscoverySubTable[] = {
    {1, "Model Name", NIMP_TYPE_DISPLAYSTR},
    {2, "Mac Address", NIMP_TYPE_MACADDRESS},
    {3, "IP Address", NIMP_TYPE_IPADDRESS},
    {4, "Netmask", NIMP_TYPE_IPADDRESS},
    {12, "F/W version", NIMP_TYPE_DISPLAYSTR},
    {251, "Device Name", NIMP_TYPE_DISPLAYSTR},
    {0, nullptr, 0},
};

const VxNIMPVarDef NimpDiscoveryTable[] = {
    {0, "Discovery", NIMP_TYPE_GROUP, NIMP_ACCESS_READONLY, NimpDiscoverySubTable},
    {0, nullptr, 0, 0, nullptr},
};

const VxNIMPVarDef NimpVersionTable[] = {
    {12, "Version", NIMP_TYPE_DISPLAYSTR, NIMP_ACCESS_READONLY, nullptr},
    {0, nullptr, 0, 0, nullptr},
};

const VxNIMPVarDef NimpIPTable[] = {
    {3, "IP Address", NIMP_TYPE_IPADDRESS, NIMP_ACCESS_READWRITE, nullptr},
    {4, "IP Netmask", NIMP_TYPE_IPADDRESS, NIMP_ACCESS_READWRITE, nullptr},
    {0, nullptr, 0, 0, nullptr},
};

const VxNIMPVarDef NimpFileTransferTable[] = {
    {92, "Remote Server IP", NIMP_TYPE_IPADDRESS, NIMP_ACCESS_WRITEONLY, nullptr},
    {93, "Remote File Name", NIMP_TYPE_DISPLAYSTR, NIMP_ACCESS_WRITEONLY, nullptr},
    {5, "Action", NIMP_TYPE_INT8, NIMP_ACCESS_WRITEONLY, nullptr},
    {0, nullptr, 0, 0, nullptr},
};

const VxNIMPVarDef NimpActionTable[] = {
    {5, "Action", NIMP_TYPE_INT8, NIMP_ACCESS_WRITEONLY, nullptr},
    {0, nullptr, 0, 0, nullptr},
};

namespace {

// The expression's message is shown as it stands, so no detail is added.
[[noreturn]] void RaiseBadIndex()
{
    NimpRaise(NIMP_ERR_BAD_REFERENCE);
}

// Decodes one record into a value text; returns the result code.
int DecodeInto(const QByteArray& datagram, int* offset, uint8_t id, uint8_t type, QString* value)
{
    NimpRecord record;
    const int rc = NimpReadRecord(datagram, offset, &record);
    if (rc != NIMP_OK) {
        return rc;
    }
    if (record.id != id) {
        return NIMP_ERR_BAD_VARIABLE_ID;
    }
    try {
        *value = NimpDecodeValue(type, record.value);
    } catch (const VxError& e) {
        return e.code();
    }
    return NIMP_OK;
}

// Reads decimal digits at pos, saturating far above any list size.
int ReadIndex(const QString& text, qsizetype* pos)
{
    int v = 0;
    while (*pos < text.size() && text[*pos] >= QLatin1Char('0') && text[*pos] <= QLatin1Char('9')) {
        if (v < 1000000) {
            v = v * 10 + (text[*pos].unicode() - '0');
        }
        ++*pos;
    }
    return v;
}

QString Replacement(uint8_t type, const QString& value)
{
    switch (type) {
    case NIMP_TYPE_BOOL8:
    case NIMP_TYPE_BOOL16:
    case NIMP_TYPE_BOOL32:
        return value == QLatin1String("true") ? QStringLiteral("1") : QStringLiteral("0");
    case NIMP_TYPE_TIMETICKS:
        return QString::number(NimpTextToTimeticks(value));
    case NIMP_TYPE_DATETIME:
        return NimpDoubleToText(NimpDateTimeTextToDays(value));
    case NIMP_TYPE_INT8:
    case NIMP_TYPE_UINT8:
    case NIMP_TYPE_INT16:
    case NIMP_TYPE_UINT16:
    case NIMP_TYPE_INT32:
    case NIMP_TYPE_UINT32:
    case NIMP_TYPE_DOUBLE:
        return value;
    default:
        return QLatin1Char('"') + value + QLatin1Char('"');
    }
}

} // namespace

VxNIMPResponseVarList::VxNIMPResponseVarList(const VxNIMPSubVarDef* table)
{
    for (const VxNIMPSubVarDef* d = table; d && d->name; ++d) {
        m_items.append(VxNIMPSubVar{d->id, QString::fromLatin1(d->name), d->type, QString()});
    }
}

VxNIMPSubVar& VxNIMPResponseVarList::Item(int index)
{
    if (index < 0 || index >= Count()) {
        RaiseBadIndex();
    }
    return m_items[index];
}

const VxNIMPSubVar& VxNIMPResponseVarList::Item(int index) const
{
    if (index < 0 || index >= Count()) {
        RaiseBadIndex();
    }
    return m_items[index];
}

VxNIMPVarList::VxNIMPVarList(const VxNIMPVarDef* table)
{
    Append(table);
    if (table == NimpDiscoveryTable) {
        m_name = QString::fromLatin1(NimpDiscoveryTableName);
    }
}

void VxNIMPVarList::Append(const VxNIMPVarDef* table)
{
    for (const VxNIMPVarDef* d = table; d && d->name; ++d) {
        VxNIMPVar var;
        var.id = d->id;
        var.name = QString::fromLatin1(d->name);
        var.type = d->type;
        var.access = d->access;
        if (d->sub) {
            var.sub = VxNIMPResponseVarList(d->sub);
        }
        m_items.append(var);
    }
}

VxNIMPVar& VxNIMPVarList::Item(int index)
{
    if (index < 0 || index >= Count()) {
        RaiseBadIndex();
    }
    return m_items[index];
}

const VxNIMPVar& VxNIMPVarList::Item(int index) const
{
    if (index < 0 || index >= Count()) {
        RaiseBadIndex();
    }
    return m_items[index];
}

QByteArray NimpRequestRecords(const VxNIMPVarList& vars, uint8_t command)
{
    QByteArray records;
    switch (command) {
    case NIMP_CMD_DISCOVER:
        break;
    case NIMP_CMD_SET:
        for (int i = 0; i < vars.Count(); ++i) {
            const VxNIMPVar& var = vars.Item(i);
            if (var.Writable()) {
                NimpAppendRecord(records, var.id, NimpEncodeValue(var.type, var.value));
            }
        }
        break;
    case NIMP_CMD_GET:
        for (int i = 0; i < vars.Count(); ++i) {
            const VxNIMPVar& var = vars.Item(i);
            if (var.Readable()) {
                NimpAppendRecord(records, var.id, QByteArray());
            }
        }
        break;
    default:
        NimpRaise(NIMP_ERR_BAD_COMMAND);
    }
    return records;
}

int NimpDecodeReplyRecords(const QByteArray& datagram, VxNIMPVarList& vars)
{
    int offset = NimpOffsetRecords;
    for (int i = 0; i < vars.Count(); ++i) {
        VxNIMPVar& var = vars.Item(i);
        if (!var.Readable()) {
            continue;
        }
        if (var.sub) {
            for (int j = 0; j < var.sub->Count(); ++j) {
                VxNIMPSubVar& sub = var.sub->Item(j);
                const int rc = DecodeInto(datagram, &offset, sub.id, sub.type, &sub.value);
                if (rc != NIMP_OK) {
                    return rc;
                }
            }
        } else {
            const int rc = DecodeInto(datagram, &offset, var.id, var.type, &var.value);
            if (rc != NIMP_OK) {
                return rc;
            }
        }
    }
    return NIMP_OK;
}

QByteArray NimpReplyRecords(const VxNIMPVarList& vars)
{
    QByteArray records;
    for (int i = 0; i < vars.Count(); ++i) {
        const VxNIMPVar& var = vars.Item(i);
        if (!var.Readable()) {
            continue;
        }
        if (var.sub) {
            for (int j = 0; j < var.sub->Count(); ++j) {
                const VxNIMPSubVar& sub = var.sub->Item(j);
                NimpAppendRecord(records, sub.id, NimpEncodeValue(sub.type, sub.value));
            }
        } else {
            NimpAppendRecord(records, var.id, NimpEncodeValue(var.type, var.value));
        }
    }
    return records;
}

QString Substitute(const QString& expression, const VxNIMPVarList& list)
{
    QString out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype dollar = expression.indexOf(QLatin1Char('$'), pos);
        if (dollar < 0) {
            out += QStringView(expression).mid(pos);
            return out;
        }
        out += QStringView(expression).mid(pos, dollar - pos);
        pos = dollar + 1;
        const int index = ReadIndex(expression, &pos);
        const VxNIMPVar& var = list.Item(index);
        if (pos < expression.size() && expression[pos] == QLatin1Char('.')) {
            ++pos;
            const int subIndex = ReadIndex(expression, &pos);
            if (!var.sub) {
                NimpRaise(NIMP_ERR_BAD_REFERENCE);
            }
            const VxNIMPSubVar& sub = var.sub->Item(subIndex);
            out += Replacement(sub.type, sub.value);
        } else {
            out += Replacement(var.type, var.value);
        }
    }
}
