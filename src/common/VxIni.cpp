#include "common/VxIni.h"

#include "common/TextHelpers.h"
#include "common/VxError.h"
#include "common/VxProfile.h"

namespace {

// The longest value a read hands back; longer values are cut.
constexpr qsizetype kMaxValueLength = 4095;

// Removes blanks and control characters at both ends.
QString TrimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= ' ')
        ++begin;
    while (end > begin && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

VxIni::VxIni(QString path) : m_path(std::move(path)) {}

QString VxIni::ReadString(const QString& section, const QString& key, const QString& def) const
{
    const auto raw = ProfileReadString(m_path, section, key);
    if (!raw || raw->isEmpty())
        return def;
    return TrimControls(raw->left(kMaxValueLength));
}

void VxIni::WriteString(const QString& section, const QString& key, const QString& value)
{
    if (!ProfileWriteString(m_path, section, key, value))
        throw VxError(kIniWriteFailedCode,
                      ReplaceAll(QString::fromLatin1(kIniWriteFailedText), "[FILENAME]", m_path));
}
