#include "tftp/TftpOptions.h"

#include <cstring>

namespace {

// A decimal number without sign or blanks, as RFC 2347 values are written; -1 otherwise.
qint64 decimal(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

void appendOption(QByteArray& packet, const char* name, qint64 value)
{
    packet.append(name).append('\0').append(QByteArray::number(value)).append('\0');
}

} // namespace

TftpOptions TftpOptions::Negotiate(const char* data, qint64 size, qint64 from, bool loopbackPeer)
{
    TftpOptions o;
    bool seenBlock = false, seenWindow = false, seenTimeout = false, seenSize = false;
    while (from < size) {
        const void* nameEnd = std::memchr(data + from, 0, size_t(size - from));
        if (!nameEnd)
            break;
        const qint64 valueAt = static_cast<const char*>(nameEnd) - data + 1;
        if (valueAt >= size)
            break;
        const void* valueEnd = std::memchr(data + valueAt, 0, size_t(size - valueAt));
        if (!valueEnd)
            break;
        const QByteArray name = QByteArray(data + from, int(valueAt - 1 - from)).toLower();
        const qint64 next = static_cast<const char*>(valueEnd) - data + 1;
        const qint64 value = decimal(QByteArray(data + valueAt, int(next - 1 - valueAt)));
        from = next;
        if (value < 0)
            continue;
        // The first occurrence of an option counts; repeats are ignored.
        if (name == "blksize" && !seenBlock) {
            seenBlock = true;
            if (value < MinBlockSize)
                continue;
            o.blockSize =
                int(std::min<qint64>(value, loopbackPeer ? MaxBlockSize : MaxLanBlockSize));
            o.askedBlockSize = true;
        } else if (name == "windowsize" && !seenWindow) {
            seenWindow = true;
            if (value < 1)
                continue;
            o.windowSize = int(std::min<qint64>(value, MaxWindowSize));
            o.askedWindowSize = true;
        } else if (name == "timeout" && !seenTimeout) {
            seenTimeout = true;
            // RFC 2349: 1 to 255 seconds; anything else is not acknowledged.
            if (value >= 1 && value <= 255)
                o.timeoutSeconds = int(value);
        } else if (name == "tsize" && !seenSize) {
            seenSize = true;
            o.transferSize = value;
            o.askedTransferSize = true;
        }
    }
    return o;
}

QByteArray TftpOptions::OptionAck() const
{
    QByteArray packet("\x00\x06", 2);
    if (askedBlockSize)
        appendOption(packet, "blksize", blockSize);
    if (askedTransferSize)
        appendOption(packet, "tsize", transferSize);
    if (timeoutSeconds > 0)
        appendOption(packet, "timeout", timeoutSeconds);
    if (askedWindowSize)
        appendOption(packet, "windowsize", windowSize);
    return packet;
}
