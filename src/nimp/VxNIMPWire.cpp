#include "nimp/VxNIMPWire.h"

#include "common/Md5.h"
#include "common/VxBinaryString.h"
#include "common/VxError.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QTime>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const char* const MsgOk = "(VxNIMP) Ok!";
const char* const MsgBadVariableId = "(VxNIMP) Bad variable ID!";
const char* const MsgBadCommand = "(VxNIMP) Bad command type!";
const char* const MsgBadValueType = "(VxNIMP) Bad value type!";
const char* const MsgSocketNotReady =
    "(VxNIMP) Socket not ready!Please check if the network is ready.";
const char* const MsgSocketIo = "(VxNIMP) Socket read/write error!";
const char* const MsgBadMac = "(VxNIMP) Bad MAC address!";
const char* const MsgPassword = "(VxNIMP) Password Error!";
const char* const MsgNotDone = "(VxNIMP) Not Done!";
const char* const MsgBadPacket = "(VxNIMP) Bad packet!";
const char* const MsgTimeout = "(VxNIMP) Timeout!";
const char* const MsgUnknown = "(VxNIMP) Unknown error!";
const char* const MsgBadReference = "(VxNIMP) Bad NIMP response variable index in the expression!";
const char* const MsgBadValueText = "(VxNIMP) Bad value text!";
const char* const MsgRequestTooLarge = "(VxNIMP) Request too large!";

constexpr uint32_t TicksPerDay = 8640000;
constexpr uint32_t TicksPerHour = 360000;
constexpr uint32_t TicksPerMinute = 6000;
constexpr uint32_t TicksPerSecond = 100;

// Day 0 of a date-time value.
const QDate DateTimeEpoch(1899, 12, 30);
constexpr double MsPerDay = 86400000.0;

void PutBE16(char* p, uint16_t v)
{
    p[0] = char(v >> 8);
    p[1] = char(v);
}

void PutBE32(char* p, uint32_t v)
{
    p[0] = char(v >> 24);
    p[1] = char(v >> 16);
    p[2] = char(v >> 8);
    p[3] = char(v);
}

uint16_t GetBE16(const char* p)
{
    return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

uint32_t GetBE32(const char* p)
{
    return (uint32_t(uint8_t(p[0])) << 24) | (uint32_t(uint8_t(p[1])) << 16) |
           (uint32_t(uint8_t(p[2])) << 8) | uint32_t(uint8_t(p[3]));
}

// Integer types read their text as a decimal integer. Signed 32-bit is the range, and
// for uint32 also the values above it, so that every value a device reports can be
// written back.
int64_t ReadInteger(uint8_t type, const QString& text)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    const int64_t low = std::numeric_limits<int32_t>::min();
    const int64_t high = type == NIMP_TYPE_UINT32 ? int64_t(std::numeric_limits<uint32_t>::max())
                                                  : int64_t(std::numeric_limits<int32_t>::max());
    if (!ok || v < low || v > high) {
        NimpRaise(NIMP_ERR_BAD_VALUE_TEXT,
                  QStringLiteral("'%1' is not a valid integer value.").arg(text));
    }
    return v;
}

double ReadDouble(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok) {
        NimpRaise(NIMP_ERR_BAD_VALUE_TEXT,
                  QStringLiteral("'%1' is not a valid floating point value.").arg(text));
    }
    return v;
}

// The double's bit pattern: low 32 bits first, then the high 32 bits, each big-endian.
QByteArray DoubleToBytes(double v)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    QByteArray out(8, '\0');
    PutBE32(out.data(), uint32_t(bits));
    PutBE32(out.data() + 4, uint32_t(bits >> 32));
    return out;
}

double BytesToDouble(const QByteArray& bytes)
{
    const uint64_t bits =
        uint64_t(GetBE32(bytes.constData())) | (uint64_t(GetBE32(bytes.constData() + 4)) << 32);
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// General format with 15 significant digits: "1.5", "1E20", "1.5E-7", "NAN", "INF".
QString DoubleToText(double v)
{
    if (std::isnan(v)) {
        return QStringLiteral("NAN");
    }
    if (std::isinf(v)) {
        return v < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    }
    QString s = QString::number(v, 'g', 15);
    const qsizetype e = s.indexOf(QLatin1Char('e'));
    if (e < 0) {
        return s;
    }
    const QString mantissa = s.left(e);
    const int exponent = s.mid(e + 1).toInt();
    return mantissa + QLatin1Char('E') + QString::number(exponent);
}

QByteArray FixedBool(int size, const QString& text)
{
    QByteArray out(size, '\0');
    if (text != QLatin1String("false")) {
        out[0] = 1;
    }
    return out;
}

bool AllZero(const QByteArray& bytes)
{
    for (char c : bytes) {
        if (c != 0) {
            return false;
        }
    }
    return true;
}

// The date-time as a day count: whole days since the epoch, time of day as the
// fraction. Before the epoch the fraction still counts forward from midnight, so
// -1.25 is 29 Dec 1899, 06:00.
double DateTimeToDays(const QDateTime& dt)
{
    const double days = double(DateTimeEpoch.daysTo(dt.date()));
    const double frac = double(dt.time().msecsSinceStartOfDay()) / MsPerDay;
    return days >= 0 ? days + frac : days - frac;
}

bool DaysToDateTime(double value, QDateTime* out)
{
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) {
        return false;
    }
    double whole = std::trunc(value);
    int64_t ms = std::llround(std::fabs(value - whole) * MsPerDay);
    if (ms >= int64_t(MsPerDay)) {
        ms -= int64_t(MsPerDay);
        whole += value < 0 ? -1 : 1;
    }
    const QDate date = DateTimeEpoch.addDays(qint64(whole));
    if (!date.isValid()) {
        return false;
    }
    *out = QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
    return true;
}

QString DateTimeToText(const QDateTime& dt)
{
    const QTime t = dt.time();
    int hour12 = t.hour() % 12;
    if (hour12 == 0) {
        hour12 = 12;
    }
    const QDate d = dt.date();
    return QStringLiteral("%1/%2/%3 %4:%5:%6 %7")
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(d.month(), 2, 10, QLatin1Char('0'))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(hour12, 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("am") : QStringLiteral("pm"));
}

// Reads "yyyy/mm/dd", optionally followed by "hh:nn[:ss]" and "am" or "pm".
QDateTime TextToDateTime(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*(\d{1,4})/(\d{1,2})/(\d{1,2})(?:\s+(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?\s*(am|pm|AM|PM|a|p|A|P)?)?\s*$)"));
    const QRegularExpressionMatch m = re.match(text);
    const auto fail = [&text]() -> QDateTime {
        NimpRaise(NIMP_ERR_BAD_VALUE_TEXT,
                  QStringLiteral("'%1' is not a valid date and time.").arg(text));
    };
    if (!m.hasMatch()) {
        return fail();
    }
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    int hour = m.captured(4).isEmpty() ? 0 : m.captured(4).toInt();
    const int minute = m.captured(5).isEmpty() ? 0 : m.captured(5).toInt();
    const int second = m.captured(6).isEmpty() ? 0 : m.captured(6).toInt();
    const QString ampm = m.captured(7).toLower();
    if (!ampm.isEmpty()) {
        if (hour < 1 || hour > 12) {
            return fail();
        }
        hour %= 12;
        if (ampm.startsWith(QLatin1Char('p'))) {
            hour += 12;
        }
    }
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) {
        return fail();
    }
    return QDateTime(date, time);
}

// Four dotted decimal parts of 0 to 255; anything else is no address.
bool ReadIPv4(const QString& text, QByteArray* out)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return false;
    }
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3) {
            return false;
        }
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                return false;
            }
        }
        const int v = p.toInt();
        if (v > 255) {
            return false;
        }
        bytes[i] = char(v);
    }
    *out = bytes;
    return true;
}

bool IsDisplayable(const QByteArray& bytes)
{
    for (char ch : bytes) {
        const uint8_t c = uint8_t(ch);
        if (!((c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n')) {
            return false;
        }
    }
    return true;
}

// Leading-decimal conversion: blanks skipped, optional sign, digits up to the first
// non-digit, 0 without digits.
int64_t LeadingDecimal(const QString& text, qsizetype from)
{
    qsizetype i = from;
    while (i < text.size() && text[i] == QLatin1Char(' ')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int64_t v = 0;
    while (i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
        // Saturate instead of overflowing on absurdly long digit runs.
        if (v < int64_t(1) << 40) {
            v = v * 10 + (text[i].unicode() - '0');
        }
        ++i;
    }
    return negative ? -v : v;
}

} // namespace

QString NimpErrorMessage(int code)
{
    switch (code) {
    case NIMP_OK:
        return QString::fromLatin1(MsgOk);
    case NIMP_ERR_BAD_VARIABLE_ID:
        return QString::fromLatin1(MsgBadVariableId);
    case NIMP_ERR_BAD_COMMAND:
        return QString::fromLatin1(MsgBadCommand);
    case NIMP_ERR_BAD_VALUE_TYPE:
        return QString::fromLatin1(MsgBadValueType);
    case NIMP_ERR_SOCKET_NOT_READY:
        return QString::fromLatin1(MsgSocketNotReady);
    case NIMP_ERR_SOCKET_IO:
        return QString::fromLatin1(MsgSocketIo);
    case NIMP_ERR_BAD_MAC:
        return QString::fromLatin1(MsgBadMac);
    case NIMP_ERR_PASSWORD:
        return QString::fromLatin1(MsgPassword);
    case NIMP_ERR_NOT_DONE:
        return QString::fromLatin1(MsgNotDone);
    case NIMP_ERR_BAD_PACKET:
        return QString::fromLatin1(MsgBadPacket);
    case NIMP_ERR_TIMEOUT:
        return QString::fromLatin1(MsgTimeout);
    case NIMP_ERR_BAD_REFERENCE:
        return QString::fromLatin1(MsgBadReference);
    case NIMP_ERR_BAD_VALUE_TEXT:
        return QString::fromLatin1(MsgBadValueText);
    case NIMP_ERR_REQUEST_TOO_LARGE:
        return QString::fromLatin1(MsgRequestTooLarge);
    default:
        return QString::fromLatin1(MsgUnknown);
    }
}

void NimpRaise(int code, const QString& detail)
{
    QString message = NimpErrorMessage(code);
    if (!detail.isEmpty()) {
        message += QLatin1Char(' ') + detail;
    }
    throw VxError(code, message);
}

int NimpStatusResult(uint8_t status)
{
    switch (status & NimpStatusMask) {
    case NIMP_STATUS_DONE:
        return NIMP_OK;
    case NIMP_STATUS_WRONG_PASSWORD:
        return NIMP_ERR_PASSWORD;
    case NIMP_STATUS_NOT_DONE:
        return NIMP_ERR_NOT_DONE;
    case NIMP_STATUS_NOT_SUPPORTED:
        return NIMP_ERR_BAD_COMMAND;
    default:
        return NIMP_ERR_UNKNOWN;
    }
}

bool NimpIsValueType(uint8_t type)
{
    return type >= NIMP_TYPE_BOOL8 && type <= NIMP_TYPE_DISPLAYSTR;
}

int NimpValueSize(uint8_t type)
{
    switch (type) {
    case NIMP_TYPE_BOOL8:
    case NIMP_TYPE_INT8:
    case NIMP_TYPE_UINT8:
        return 1;
    case NIMP_TYPE_BOOL16:
    case NIMP_TYPE_INT16:
    case NIMP_TYPE_UINT16:
        return 2;
    case NIMP_TYPE_BOOL32:
    case NIMP_TYPE_INT32:
    case NIMP_TYPE_UINT32:
    case NIMP_TYPE_TIMETICKS:
    case NIMP_TYPE_IPADDRESS:
        return 4;
    case NIMP_TYPE_DOUBLE:
    case NIMP_TYPE_DATETIME:
        return 8;
    case NIMP_TYPE_MACADDRESS:
        return 6;
    default:
        return 0;
    }
}

QByteArray NimpEncodeValue(uint8_t type, const QString& text)
{
    switch (type) {
    case NIMP_TYPE_BOOL8:
        return FixedBool(1, text);
    case NIMP_TYPE_BOOL16:
        return FixedBool(2, text);
    case NIMP_TYPE_BOOL32:
        return FixedBool(4, text);
    case NIMP_TYPE_INT8:
    case NIMP_TYPE_UINT8:
        return QByteArray(1, char(ReadInteger(type, text)));
    case NIMP_TYPE_INT16:
    case NIMP_TYPE_UINT16: {
        QByteArray out(2, '\0');
        PutBE16(out.data(), uint16_t(ReadInteger(type, text)));
        return out;
    }
    case NIMP_TYPE_INT32:
    case NIMP_TYPE_UINT32: {
        QByteArray out(4, '\0');
        PutBE32(out.data(), uint32_t(ReadInteger(type, text)));
        return out;
    }
    case NIMP_TYPE_DOUBLE:
        return DoubleToBytes(ReadDouble(text));
    case NIMP_TYPE_TIMETICKS: {
        QByteArray out(4, '\0');
        PutBE32(out.data(), NimpTextToTimeticks(text));
        return out;
    }
    case NIMP_TYPE_DATETIME:
        return DoubleToBytes(DateTimeToDays(TextToDateTime(text)));
    case NIMP_TYPE_IPADDRESS: {
        QByteArray out;
        if (!ReadIPv4(text, &out)) {
            out = QByteArray(4, '\xFF');
        }
        return out;
    }
    case NIMP_TYPE_MACADDRESS: {
        const QByteArray bytes = NimpHexToBytes(text);
        // Padding a short text would send bytes the user never gave.
        if (bytes.size() < NimpMacSize) {
            NimpRaise(NIMP_ERR_BAD_VALUE_TEXT,
                      QStringLiteral("'%1' is not a valid MAC address.").arg(text));
        }
        return bytes.left(NimpMacSize);
    }
    case NIMP_TYPE_BITSTR:
    case NIMP_TYPE_OCTETSTR:
        return NimpHexToBytes(text);
    case NIMP_TYPE_DISPLAYSTR:
        return text.toLatin1();
    default:
        NimpRaise(NIMP_ERR_BAD_VALUE_TYPE);
    }
}

QString NimpDecodeValue(uint8_t type, const QByteArray& bytes)
{
    if (!NimpIsValueType(type)) {
        NimpRaise(NIMP_ERR_BAD_VALUE_TYPE);
    }
    const int size = NimpValueSize(type);
    if (size != 0 && bytes.size() != size) {
        NimpRaise(NIMP_ERR_BAD_PACKET);
    }
    const char* p = bytes.constData();
    switch (type) {
    case NIMP_TYPE_BOOL8:
    case NIMP_TYPE_BOOL16:
    case NIMP_TYPE_BOOL32:
        return AllZero(bytes) ? QStringLiteral("false") : QStringLiteral("true");
    case NIMP_TYPE_INT8:
        return QString::number(int8_t(p[0]));
    case NIMP_TYPE_UINT8:
        return QString::number(uint8_t(p[0]));
    case NIMP_TYPE_INT16:
        return QString::number(int16_t(GetBE16(p)));
    case NIMP_TYPE_UINT16:
        return QString::number(GetBE16(p));
    case NIMP_TYPE_INT32:
        return QString::number(int32_t(GetBE32(p)));
    case NIMP_TYPE_UINT32:
        return QString::number(GetBE32(p));
    case NIMP_TYPE_DOUBLE:
        return DoubleToText(BytesToDouble(bytes));
    case NIMP_TYPE_TIMETICKS:
        return NimpTimeticksToText(GetBE32(p));
    case NIMP_TYPE_DATETIME: {
        const double days = BytesToDouble(bytes);
        QDateTime dt;
        // A pattern that is no date is shown as its number rather than dropped.
        return DaysToDateTime(days, &dt) ? DateTimeToText(dt) : DoubleToText(days);
    }
    case NIMP_TYPE_IPADDRESS:
        return QStringLiteral("%1.%2.%3.%4")
            .arg(uint8_t(p[0]))
            .arg(uint8_t(p[1]))
            .arg(uint8_t(p[2]))
            .arg(uint8_t(p[3]));
    case NIMP_TYPE_MACADDRESS:
    case NIMP_TYPE_BITSTR:
    case NIMP_TYPE_OCTETSTR:
        return ToHex(bytes);
    case NIMP_TYPE_DISPLAYSTR:
        return IsDisplayable(bytes) ? QString::fromLatin1(bytes) : ToHex(bytes);
    default:
        NimpRaise(NIMP_ERR_BAD_VALUE_TYPE);
    }
}

QByteArray NimpHexToBytes(const QString& text)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    QByteArray out;
    out.reserve(digits.size() / 2 + 1);
    qsizetype i = 0;
    if (digits.size() % 2 == 1) {
        out.append(char(HexDigitValue(digits[0])));
        i = 1;
    }
    for (; i + 1 < digits.size(); i += 2) {
        out.append(char(HexDigitValue(digits[i]) * 16 + HexDigitValue(digits[i + 1])));
    }
    return out;
}

QString NimpTimeticksToText(uint32_t ticks)
{
    const uint32_t days = ticks / TicksPerDay;
    const uint32_t r = ticks % TicksPerDay;
    const QString clock = QStringLiteral("%1:%2:%3.%4")
                              .arg(r / TicksPerHour)
                              .arg(r % TicksPerHour / TicksPerMinute, 2, 10, QLatin1Char('0'))
                              .arg(r % TicksPerMinute / TicksPerSecond, 2, 10, QLatin1Char('0'))
                              .arg(r % TicksPerSecond, 2, 10, QLatin1Char('0'));
    if (days == 0) {
        return clock;
    }
    if (days == 1) {
        return QStringLiteral("1 day ") + clock;
    }
    return QStringLiteral("%1 days, ").arg(days) + clock;
}

uint32_t NimpTextToTimeticks(const QString& text)
{
    // Unsigned arithmetic: out-of-range parts wrap as the 32-bit field would.
    uint32_t ticks = 0;
    qsizetype pos = 0;
    qsizetype at = text.indexOf(QLatin1String("days"));
    qsizetype skip = 4;
    if (at < 0) {
        at = text.indexOf(QLatin1String("day"));
        skip = 3;
    }
    if (at >= 0) {
        ticks += uint32_t(LeadingDecimal(text, pos)) * TicksPerDay;
        pos = at + skip;
    }
    at = text.indexOf(QLatin1Char(','), pos);
    if (at >= 0) {
        pos = at + 1;
    }
    at = text.indexOf(QLatin1Char(':'), pos);
    if (at >= 0) {
        ticks += uint32_t(LeadingDecimal(text, pos)) * TicksPerHour;
        pos = at + 1;
        at = text.indexOf(QLatin1Char(':'), pos);
        if (at >= 0) {
            ticks += uint32_t(LeadingDecimal(text, pos)) * TicksPerMinute;
            pos = at + 1;
        }
        at = text.indexOf(QLatin1Char('.'), pos);
        if (at >= 0) {
            ticks += uint32_t(LeadingDecimal(text, pos)) * TicksPerSecond;
            ticks += uint32_t(LeadingDecimal(text, at + 1));
        }
    }
    return ticks;
}

QString NimpDoubleToText(double value)
{
    return DoubleToText(value);
}

double NimpDateTimeTextToDays(const QString& text)
{
    return DateTimeToDays(TextToDateTime(text));
}

QByteArray NimpMacFromText(const QString& text)
{
    const QByteArray mac = NimpHexToBytes(text);
    if (mac.size() != NimpMacSize) {
        NimpRaise(NIMP_ERR_BAD_MAC);
    }
    return mac;
}

QString NimpMacToText(const QByteArray& mac)
{
    return ToHex(mac);
}

QByteArray NimpPasswordBytes(const QString& password)
{
    return password.toLatin1();
}

QByteArray NimpDigest(const QByteArray& datagramWithDigestZeroed, const QByteArray& password)
{
    return Md5(datagramWithDigestZeroed + password);
}

bool NimpDigestMatches(const QByteArray& datagram, const QByteArray& password)
{
    if (datagram.size() < NimpHeaderSize) {
        return false;
    }
    QByteArray zeroed = datagram;
    std::memset(zeroed.data() + NimpOffsetDigest, 0, NimpDigestSize);
    return NimpDigest(zeroed, password) == datagram.mid(NimpOffsetDigest, NimpDigestSize);
}

bool NimpParseHeader(const QByteArray& datagram, NimpHeader* out)
{
    if (datagram.size() < NimpHeaderSize ||
        std::memcmp(datagram.constData() + NimpOffsetMagic, NimpMagic, sizeof NimpMagic) != 0) {
        return false;
    }
    const char* p = datagram.constData();
    out->command = uint8_t(p[NimpOffsetCommand]);
    out->requestNumber = uint8_t(p[NimpOffsetRequestNumber]);
    out->length = GetBE16(p + NimpOffsetLength);
    out->status = uint8_t(p[NimpOffsetFlags]) & NimpStatusMask;
    out->digest = datagram.mid(NimpOffsetDigest, NimpDigestSize);
    out->mac = datagram.mid(NimpOffsetMac, NimpMacSize);
    return true;
}

bool NimpAcceptDatagram(const QByteArray& datagram, NimpHeader* out)
{
    return NimpParseHeader(datagram, out) && out->length == datagram.size();
}

void NimpWriteHeader(QByteArray& datagram, const NimpHeader& header)
{
    if (datagram.size() < NimpHeaderSize) {
        datagram.append(QByteArray(NimpHeaderSize - datagram.size(), '\0'));
    }
    char* p = datagram.data();
    std::memset(p, 0, NimpHeaderSize);
    std::memcpy(p + NimpOffsetMagic, NimpMagic, sizeof NimpMagic);
    p[NimpOffsetCommand] = char(header.command);
    p[NimpOffsetRequestNumber] = char(header.requestNumber);
    PutBE16(p + NimpOffsetLength, header.length);
    p[NimpOffsetFlags] = char(NimpRequestFlags | (header.status & NimpStatusMask));
    if (header.digest.size() == NimpDigestSize) {
        std::memcpy(p + NimpOffsetDigest, header.digest.constData(), NimpDigestSize);
    }
    if (header.mac.size() == NimpMacSize) {
        std::memcpy(p + NimpOffsetMac, header.mac.constData(), NimpMacSize);
    }
    p[NimpOffsetOne] = 1;
}

QByteArray NimpBuildDatagram(uint8_t command, uint8_t requestNumber, uint8_t status,
                             const QByteArray& mac, const QByteArray& records,
                             const QByteArray& password)
{
    if (mac.size() != NimpMacSize) {
        NimpRaise(NIMP_ERR_BAD_MAC);
    }
    const qsizetype total = NimpHeaderSize + records.size();
    if (total + password.size() > NimpRequestBufferSize) {
        NimpRaise(NIMP_ERR_REQUEST_TOO_LARGE,
                  QStringLiteral("%1 bytes of header, records and password exceed %2.")
                      .arg(total + password.size())
                      .arg(NimpRequestBufferSize));
    }
    NimpHeader header;
    header.command = command;
    header.requestNumber = requestNumber;
    header.length = uint16_t(total);
    header.status = status;
    header.mac = mac;
    QByteArray datagram;
    NimpWriteHeader(datagram, header);
    datagram.append(records);
    const QByteArray digest = NimpDigest(datagram, password);
    std::memcpy(datagram.data() + NimpOffsetDigest, digest.constData(), NimpDigestSize);
    return datagram;
}

int NimpReadRecord(const QByteArray& datagram, int* offset, NimpRecord* out)
{
    const qsizetype at = *offset;
    if (at < 0 || at + NimpRecordHeaderSize > datagram.size()) {
        return NIMP_ERR_BAD_PACKET;
    }
    const int length = GetBE16(datagram.constData() + at + 1);
    if (length < NimpRecordHeaderSize || at + length > datagram.size()) {
        return NIMP_ERR_BAD_PACKET;
    }
    out->id = uint8_t(datagram[at]);
    out->value = datagram.mid(at + NimpRecordHeaderSize, length - NimpRecordHeaderSize);
    *offset = int(at + length);
    return NIMP_OK;
}

int NimpParseRecords(const QByteArray& datagram, int offset, QList<NimpRecord>* out)
{
    while (offset < datagram.size()) {
        NimpRecord record;
        const int rc = NimpReadRecord(datagram, &offset, &record);
        if (rc != NIMP_OK) {
            return rc;
        }
        out->append(record);
    }
    return NIMP_OK;
}

void NimpAppendRecord(QByteArray& records, uint8_t id, const QByteArray& value)
{
    const qsizetype length = NimpRecordHeaderSize + value.size();
    if (length > 0xFFFF) {
        NimpRaise(NIMP_ERR_REQUEST_TOO_LARGE,
                  QStringLiteral("A value of %1 bytes does not fit one record.").arg(value.size()));
    }
    char head[NimpRecordHeaderSize];
    head[0] = char(id);
    PutBE16(head + 1, uint16_t(length));
    records.append(head, NimpRecordHeaderSize);
    records.append(value);
}
