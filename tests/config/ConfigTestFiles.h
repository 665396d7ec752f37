#pragma once

#include "config/ConfigBindingList.h"
#include "config/Ktr4200Settings.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

// Readable failure messages for Qt texts. Every test file of this folder includes this
// header, so that all of them print lists of texts the same way.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& lines, std::ostream* os)
{
    *os << "{\n";
    for (const QString& line : lines)
        *os << "  \"" << line.toStdString() << "\"\n";
    *os << "}";
}

// A scratch folder for the files of one test.
class ConfigFiles
{
public:
    QString Path(const QString& name) const { return m_dir.filePath(name); }

    // Writes the lines, each ended by CR LF, and returns the path.
    QString Write(const QString& name, const QStringList& lines) const
    {
        QByteArray data;
        for (const QString& line : lines)
            data += line.toLatin1() + "\r\n";
        return WriteBytes(name, data);
    }

    QString WriteBytes(const QString& name, const QByteArray& data) const
    {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return file.fileName();
    }

    QByteArray ReadBytes(const QString& name) const
    {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
};

// The KTR-4200 settings with nothing selected but the two settings that have no check box.
inline ConfigSettings NothingTicked()
{
    ConfigSettings settings;
    settings.bindings = MakeKtr4200BindingList();
    for (qsizetype i = 0; i < settings.bindings.size(); ++i) {
        const QString& key = settings.bindings.at(i).key;
        settings.bindings[i].enabled = key == "country_code" || key == "get_reg_domain";
    }
    settings.acl11a.enabled = false;
    settings.acl11b.enabled = false;
    return settings;
}

inline void Tick(ConfigSettings& settings, const QString& key, const QString& value)
{
    ASSERT_TRUE(settings.bindings.SetValue(key, value)) << key.toStdString();
    settings.bindings.SetEnabled(key, true);
}

inline const QStringList kKeepKeys = {
    "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
    "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
    "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
    "80211a_wep64_key =keep 0x00 0x00 0x00 0x00",
};
