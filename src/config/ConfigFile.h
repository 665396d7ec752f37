#pragma once

#include "config/ConfigBindingList.h"

#include <QString>
#include <QStringList>
#include <functional>

// What a loaded file reports to whoever shows the settings (the configuration window).
struct ConfigLoadObserver
{
    // An 802.11a key line chose the length of key 1 to 4: "64", "128", "152" or "NULL".
    // Reported while the lines are read, before any stored value is set, so that a window
    // can set the key field up for that length first.
    std::function<void(int keyNumber, const QString& lengthChoice)> keyLengthChosen;
    // After the lines were read, every bound setting in binding order with its new stored
    // value (empty when the file gave none).
    std::function<void(const QString& key, const QString& value)> valueLoaded;
};

// A device configuration file written from and loaded into ConfigSettings.
class ConfigFile
{
public:
    // The lines of a file for the selected settings. A non-empty modelName becomes the
    // first line (the files written for a device).
    static QStringList BuildLines(const ConfigSettings& settings, const QString& modelName);

    // Writes BuildLines to fileName, replacing it. fileView, when given, receives the lines
    // even when the write fails. 0 when written, -1 otherwise.
    static int Save(const ConfigSettings& settings, const QString& modelName,
                    const QString& fileName, QStringList* fileView = nullptr);

    // Reads fileName into settings: the stored value of every binding (empty when the file
    // gives none) and both access control lists (the enabled flags are left alone).
    // fileView, when given, receives the file's lines as loaded (name=value, trimmed, keys
    // numbered). An unreadable file empties everything and gives -1; otherwise 0.
    static int Load(ConfigSettings& settings, const QString& fileName,
                    QStringList* fileView = nullptr, const ConfigLoadObserver& observer = {});
    // The same from lines already read (a file chosen by the user, see UserConfigFile.h).
    static void LoadLines(ConfigSettings& settings, QStringList lines,
                          QStringList* fileView = nullptr, const ConfigLoadObserver& observer = {});

    // How the device spells a setting's name given in any letter case: the bound key, or the
    // lower-case name of an access control list or key line; other names as they are.
    static QString DeviceSpelling(const ConfigBindingList& bindings, const QString& name);

    // The 802.11a key length choice for a normalized key value.
    static QString KeyLengthChoice(const QString& normalizedKey);
};
