// Any host on the LAN can send datagrams to the console's NIMP port. The client accepts
// a reply by its header and decodes its records into the variables of the request; every
// step must stay inside the datagram and end with a result code.

#include "FuzzSupport.h"
#include "common/VxError.h"
#include "nimp/VxNIMPVarList.h"
#include "nimp/VxNIMPWire.h"

namespace {

const VxNIMPVarDef* const kRequestTables[] = {NimpDiscoveryTable, NimpVersionTable, NimpIPTable,
                                              NimpFileTransferTable, NimpActionTable};

void DecodeEveryWay(const QByteArray& value)
{
    for (int type = 0; type <= 18; ++type) {
        try {
            const QString text = NimpDecodeValue(uint8_t(type), value);
            // The fixed-size integer and address types read back to the same bytes.
            switch (type) {
            case NIMP_TYPE_INT8:
            case NIMP_TYPE_UINT8:
            case NIMP_TYPE_INT16:
            case NIMP_TYPE_UINT16:
            case NIMP_TYPE_INT32:
            case NIMP_TYPE_UINT32:
            case NIMP_TYPE_IPADDRESS:
            case NIMP_TYPE_MACADDRESS:
                FUZZ_CHECK(NimpEncodeValue(uint8_t(type), text) == value);
                break;
            default:
                break;
            }
        } catch (const VxError& e) {
            FUZZ_CHECK(e.code() == NIMP_ERR_BAD_VALUE_TYPE || e.code() == NIMP_ERR_BAD_PACKET ||
                       e.code() == NIMP_ERR_BAD_VALUE_TEXT);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray datagram = FuzzBytes(data, size);
    // Most inputs would fail the length check; give half of them the right length so
    // that the records behind it are reached.
    if (size >= size_t(NimpHeaderSize) && (data[NimpOffsetFlags + 1] & 1) != 0) {
        datagram[NimpOffsetLength] = char((size >> 8) & 0xFF);
        datagram[NimpOffsetLength + 1] = char(size & 0xFF);
    }

    QList<NimpRecord> records;
    const int parsed = NimpParseRecords(datagram, NimpOffsetRecords, &records);
    FUZZ_CHECK(parsed == 0 || parsed == NIMP_ERR_BAD_PACKET);
    for (const NimpRecord& record : records)
        DecodeEveryWay(record.value);

    NimpHeader header;
    if (!NimpAcceptDatagram(datagram, &header))
        return 0;
    FUZZ_CHECK(header.length == datagram.size());
    FUZZ_CHECK(header.mac.size() == NimpMacSize);
    const int status = NimpStatusResult(header.status);
    (void)NimpErrorMessage(status);
    for (const VxNIMPVarDef* table : kRequestTables) {
        VxNIMPVarList vars(table);
        const int code = NimpDecodeReplyRecords(datagram, vars);
        FUZZ_CHECK(code == 0 || code == NIMP_ERR_BAD_VARIABLE_ID || code == NIMP_ERR_BAD_PACKET);
        // A fully decoded reply is what a device sends for these variables; its values
        // turn back into records.
        if (code == 0)
            (void)NimpReplyRecords(vars);
        try {
            (void)Substitute("$0", vars);
        } catch (const VxError&) {
        }
    }
    return 0;
}
