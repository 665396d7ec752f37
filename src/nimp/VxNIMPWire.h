#pragma once

// The bytes of NIMP: datagram header, variable records, value encodings and the request
// digest. Both ends use these functions: the console's client builds requests and reads
// replies, a device (or the simulated fleet) parses requests and builds replies.

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>

constexpr quint16 NimpDefaultPort = 64512;
constexpr int NimpHeaderSize = 36;
// A request is built in a buffer of this size, records and password included.
constexpr int NimpRequestBufferSize = 8192;
// Replies longer than this are never seen.
constexpr int NimpReceiveBufferSize = 8912;
constexpr int NimpRecordHeaderSize = 3;
constexpr int NimpDigestSize = 16;
constexpr int NimpMacSize = 6;

inline constexpr char NimpMagic[4] = {'\x09', '\x2B', '\x13', '\x38'};

// Header offsets.
constexpr int NimpOffsetMagic = 0;
constexpr int NimpOffsetCommand = 4;
constexpr int NimpOffsetRequestNumber = 5;
constexpr int NimpOffsetLength = 6;  // 2 bytes, big-endian, header included
constexpr int NimpOffsetFlags = 10;  // high nibble 1 in a request, low nibble the status
constexpr int NimpOffsetDigest = 12; // 16 bytes
constexpr int NimpOffsetMac = 28;    // 6 bytes
constexpr int NimpOffsetOne = 34;    // always 01
constexpr int NimpOffsetRecords = 36;

constexpr uint8_t NimpRequestFlags = 0x10;
constexpr uint8_t NimpStatusMask = 0x0F;

enum NimpCommand : uint8_t
{
    NIMP_CMD_DISCOVER = 1,
    NIMP_CMD_SET = 3,
    NIMP_CMD_GET = 5,
};

enum NimpStatus : uint8_t
{
    NIMP_STATUS_DONE = 0,
    NIMP_STATUS_WRONG_PASSWORD = 1,
    NIMP_STATUS_NOT_DONE = 2,
    NIMP_STATUS_NOT_SUPPORTED = 3,
};

enum NimpValueType : uint8_t
{
    NIMP_TYPE_GROUP = 0,
    NIMP_TYPE_BOOL8 = 1,
    NIMP_TYPE_INT8 = 2,
    NIMP_TYPE_UINT8 = 3,
    NIMP_TYPE_BOOL16 = 4,
    NIMP_TYPE_INT16 = 5,
    NIMP_TYPE_UINT16 = 6,
    NIMP_TYPE_BOOL32 = 7,
    NIMP_TYPE_INT32 = 8,
    NIMP_TYPE_UINT32 = 9,
    NIMP_TYPE_DOUBLE = 10,
    NIMP_TYPE_TIMETICKS = 11,
    NIMP_TYPE_DATETIME = 12,
    NIMP_TYPE_IPADDRESS = 13,
    NIMP_TYPE_MACADDRESS = 14,
    NIMP_TYPE_BITSTR = 15,
    NIMP_TYPE_OCTETSTR = 16,
    NIMP_TYPE_DISPLAYSTR = 17,
};

enum NimpAccess : uint8_t
{
    NIMP_ACCESS_READONLY = 1,
    NIMP_ACCESS_WRITEONLY = 2,
    NIMP_ACCESS_READWRITE = 3,
};

// Result codes of the protocol client; NimpErrorMessage gives each one's fixed text.
enum NimpResult : int
{
    NIMP_OK = 0,
    NIMP_ERR_BAD_VARIABLE_ID = -1005,
    NIMP_ERR_BAD_COMMAND = -1006,
    NIMP_ERR_BAD_VALUE_TYPE = -1007,
    NIMP_ERR_SOCKET_NOT_READY = -1008,
    NIMP_ERR_SOCKET_IO = -1009,
    NIMP_ERR_BAD_MAC = -1010,
    NIMP_ERR_PASSWORD = -1011,
    NIMP_ERR_NOT_DONE = -1012,
    NIMP_ERR_BAD_PACKET = -1013,
    NIMP_ERR_TIMEOUT = -1014,
    NIMP_ERR_UNKNOWN = -1015,
    NIMP_ERR_BAD_REFERENCE = -1016,
    // A value text that cannot be turned into the bytes of its type.
    NIMP_ERR_BAD_VALUE_TEXT = -1017,
    // Records plus password beyond the request buffer.
    NIMP_ERR_REQUEST_TOO_LARGE = -1018,
};

// The fixed message of a result code ("(VxNIMP) Unknown error!" for a code not listed).
QString NimpErrorMessage(int code);
// Raises VxError with the code's message, followed by detail when given.
[[noreturn]] void NimpRaise(int code, const QString& detail = QString());

// The result code a reply status stands for (0 for done).
int NimpStatusResult(uint8_t status);

// --- value encodings ------------------------------------------------------------------

// Fixed value size of a type, 0 for the variable-length types (15 to 17) and for any
// code that is no value type.
int NimpValueSize(uint8_t type);
bool NimpIsValueType(uint8_t type);

// Value text -> value bytes. Raises -1007 for a code outside 1 to 17 and -1017 for a
// text that its type cannot read (no integer, no number, no date, a MAC of fewer than 6
// bytes).
QByteArray NimpEncodeValue(uint8_t type, const QString& text);
// Value bytes -> value text. Raises -1007 for a code outside 1 to 17 and -1013 when a
// fixed-size type gets another number of bytes.
QString NimpDecodeValue(uint8_t type, const QByteArray& bytes);

// Hexadecimal text -> bytes: blanks dropped, an odd first digit is a byte alone, any
// character that is no hex digit counts as 0.
QByteArray NimpHexToBytes(const QString& text);
QString NimpTimeticksToText(uint32_t ticks);
uint32_t NimpTextToTimeticks(const QString& text);

// General format with 15 significant digits, as a double value is shown ("1.5", "1E20").
QString NimpDoubleToText(double value);
// A date-time text as its day number (days since 1899-12-30, time of day as the
// fraction); raises -1017 for a text that is no date.
double NimpDateTimeTextToDays(const QString& text);

// Target MAC text -> 6 bytes; raises -1010 unless the text gives exactly 6 bytes.
QByteArray NimpMacFromText(const QString& text);
// Twelve upper-case hexadecimal digits.
QString NimpMacToText(const QByteArray& mac);
inline const QByteArray NimpBroadcastMac = QByteArray(NimpMacSize, '\xFF');

// --- datagrams ------------------------------------------------------------------------

// MD5 over the datagram (digest field zero) followed by the password bytes.
QByteArray NimpDigest(const QByteArray& datagramWithDigestZeroed, const QByteArray& password);
// The password as it goes into the digest: one byte per character.
QByteArray NimpPasswordBytes(const QString& password);
// Whether the digest of a received request matches the password (the device's check).
bool NimpDigestMatches(const QByteArray& datagram, const QByteArray& password);

struct NimpHeader
{
    uint8_t command = 0;
    uint8_t requestNumber = 0;
    uint16_t length = 0;
    uint8_t status = 0; // low nibble of the flags byte
    QByteArray digest;  // 16 bytes
    QByteArray mac;     // 6 bytes
};

// Reads the header; false unless the datagram is at least 36 bytes and starts with the
// magic. The length field is returned as found, not checked.
bool NimpParseHeader(const QByteArray& datagram, NimpHeader* out);
// Reply acceptance as far as the bytes go: header readable and length field equal to
// the datagram's size.
bool NimpAcceptDatagram(const QByteArray& datagram, NimpHeader* out);
// Writes the 36 header bytes at the start of datagram (grown to 36 if shorter): magic,
// command, number, length, 0x10 | status, digest (zeros unless 16 bytes are given),
// MAC, 01.
void NimpWriteHeader(QByteArray& datagram, const NimpHeader& header);

// A whole datagram from header fields and records: the length is set, and the digest is
// computed over it and the password. Raises -1018 when records and password would not
// fit the request buffer, -1010 for a MAC that is not 6 bytes.
QByteArray NimpBuildDatagram(uint8_t command, uint8_t requestNumber, uint8_t status,
                             const QByteArray& mac, const QByteArray& records,
                             const QByteArray& password);

struct NimpRecord
{
    uint8_t id = 0;
    QByteArray value;
};

// Reads the record at *offset and moves *offset past it. Returns 0, or -1013 when the
// record is shorter than 3 bytes or runs past the end of the datagram; nothing outside
// the datagram is read.
int NimpReadRecord(const QByteArray& datagram, int* offset, NimpRecord* out);
// Every record from offset to the end of the datagram: 0 or -1013 (out then holds the
// records before the bad one).
int NimpParseRecords(const QByteArray& datagram, int offset, QList<NimpRecord>* out);
void NimpAppendRecord(QByteArray& records, uint8_t id, const QByteArray& value);
