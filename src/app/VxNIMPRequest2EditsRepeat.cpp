#include "app/VxNIMPRequest2EditsRepeat.h"

#include "app/DeviceListModel.h"
#include "common/TextHelpers.h"
#include "common/VxCondition.h"
#include "common/VxError.h"
#include "nimp/VxNIMPWire.h"

namespace {
constexpr int DiscoverTimeoutCode = -1014;
constexpr uint8_t MacSubVariableId = 2;
} // namespace

QString VxNIMPRequest::Substitute(const QString& text) const
{
    return ::Substitute(text, variables);
}

bool VxNIMPRequest::Check() const
{
    if (filter.isEmpty())
        return true;
    return EvaluateCondition(Substitute(filter));
}

VxNIMPRequest2Controls::VxNIMPRequest2Controls(VxNIMPClient& client,
                                               const VxNIMPDevice& defaultDevice, QObject* owner)
    : QObject(owner), m_client(&client)
{
    m_request.device = defaultDevice;
}

VxNIMPRequest2Controls::~VxNIMPRequest2Controls()
{
    // By now the derived parts are gone: a reply delivered to this object would reach a
    // half-destroyed one.
    if (m_client)
        m_client->Cancel(this);
}

void VxNIMPRequest2Controls::Execute(uint8_t command)
{
    Prepare(command);
    ++m_outstanding;
    if (!m_client)
        NimpRaise(NIMP_ERR_SOCKET_IO);
    QList<int> interfaces;
    for (const VxNIMPInterface& i : std::as_const(m_request.interfaces))
        interfaces.append(i.index);
    // The destructor cancels every request sent with this object as argument, so the
    // callback never outlives it.
    m_client->SendRequest(
        m_request.device.mac, m_request.device.password, m_request.variables, command,
        [this](const VxNIMPError& error, const VxNIMPVarList& vars) { handleReply(error, vars); },
        this, m_request.timeout, interfaces);
}

void VxNIMPRequest2Controls::handleReply(const VxNIMPError& error, const VxNIMPVarList& vars)
{
    m_request.variables = vars;
    if (error.code == DiscoverTimeoutCode) {
        Finish(error.command);
        --m_outstanding;
        return;
    }
    if (error.code != 0)
        return;
    m_replySource = error.source;
    m_replyInterface = nullptr;
    for (const VxNIMPInterface& i : std::as_const(m_request.interfaces))
        if (i.index == error.interfaceIndex)
            m_replyInterface = &i;
    // Errors must not escape into the event loop that delivered the reply.
    try {
        if (m_request.Check())
            OnReply(error.command);
        else
            emit replyFiltered();
    } catch (const VxError& e) {
        emit replyError(e.code(), e.message());
    }
}

void VxNIMPRequest2Controls::Prepare(uint8_t) {}

void VxNIMPRequest2Controls::Finish(uint8_t) {}

VxNIMPRequest2Edits::VxNIMPRequest2Edits(VxNIMPClient& client, const VxNIMPDevice& defaultDevice,
                                         QObject* owner)
    : VxNIMPRequest2Controls(client, defaultDevice, owner)
{
}

void VxNIMPRequest2Edits::Prepare(uint8_t)
{
    if (m_list)
        m_list->ClearRows();
}

void VxNIMPRequest2Edits::OnReply(uint8_t command)
{
    if (!m_list)
        return;
    const VxNIMPVarList& vars = Request().variables;
    QStringList values;
    for (int v = 0; v < vars.Count(); ++v) {
        const VxNIMPVar& var = vars.Item(v);
        if (var.sub) {
            for (int i = 0; i < var.sub->Count(); ++i)
                values.append(var.sub->Item(i).value);
        } else if (var.access & NIMP_ACCESS_READONLY) {
            values.append(var.value);
        }
    }
    if (values.isEmpty())
        return;
    const VxNIMPInterface* via = ReplyInterface();
    const QString interfaceName = via ? via->name : QString();
    if (command == NIMP_CMD_DISCOVER && vars.Count() == 1 && vars.Item(0).sub) {
        const VxNIMPResponseVarList& sub = *vars.Item(0).sub;
        for (int i = 0; i < sub.Count(); ++i) {
            if (sub.Item(i).id != MacSubVariableId)
                continue;
            DeviceRow* known = m_list->FindByMac(sub.Item(i).value);
            if (!known)
                break;
            // The record keeps the caption and five values; more are not compared.
            const QStringList knownValues =
                QStringList{known->caption, known->macText, known->ip, known->netmask,
                            known->reportedVersion, known->deviceName}
                    .mid(0, values.size());
            const QStringList answer = values.mid(0, knownValues.size());
            // One device may be heard on two interfaces; two addresses or two records are two
            // hosts.
            const bool same = known->discoverSource == ReplySource() && knownValues == answer;
            if (same)
                return; // the same device answering a repeated Discover
            noteConflict(known, knownValues, answer, interfaceName);
            return;
        }
    }
    const QString caption = values.takeFirst();
    DeviceRow* row = m_list->AddRow(caption, values);
    row->discoverSource = ReplySource();
    if (via) {
        row->interfaceIndex = via->index;
        row->interfaceName = via->name;
    }
}

void VxNIMPRequest2Edits::noteConflict(DeviceRow* row, const QStringList& first,
                                       const QStringList& other, const QString& otherInterface)
{
    const auto answer = [](const QHostAddress& from, const QString& interfaceName,
                           const QStringList& values) {
        QString text = QStringLiteral("from ") + from.toString();
        if (!interfaceName.isEmpty())
            text += QStringLiteral(" on ") + interfaceName;
        return text + QStringLiteral(" (") + EscapeUntrusted(values.join(QStringLiteral(", ")))
               + QLatin1Char(')');
    };
    const QString otherText = answer(ReplySource(), otherInterface, other);
    // Each answer is told once, however often a flood repeats it.
    if (row->conflict.contains(otherText))
        return;
    const QString mac = EscapeUntrusted(row->macText);
    const bool firstConflict = row->conflict.isEmpty();
    QString text;
    if (firstConflict) {
        text = mac + QStringLiteral(" answered Discover twice, ")
               + answer(row->discoverSource, row->interfaceName, first) + QStringLiteral(" and ")
               + otherText + QStringLiteral(": another host claims its MAC, so nothing is sent to "
                                            "it and nothing is served for it");
    } else {
        // Bounded: a flood of claims does not grow the row without end.
        if (row->conflict.size() > 4096)
            return;
        text = row->conflict + QStringLiteral("; again ") + otherText;
    }
    m_list->SetConflict(row, text);
    emit logLine(firstConflict ? text
                               : mac + QStringLiteral(" answered Discover again ") + otherText);
}

void VxNIMPRequest2EditsRepeat::Prepare(uint8_t) {}
