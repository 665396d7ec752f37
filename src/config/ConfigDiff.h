#pragma once

#include <QString>
#include <QStringList>

// The settings that differ between two configuration files, for people: one line each, in
// the order of the first file, then the settings only the second holds, then the access
// control entries added and removed:
//   80211a_ssid: "Lobby" -> "Lobby 2"
//   country_code: US -> (none)
//   80211b_acl_mac_add: removed 02:1A:2B:00:00:01
//   80211b_acl_mac_add: added 02:1A:2B:00:00:02
// The files are read as the verification reads them (ReadConfigLines, names trimmed and
// matched in either case, the first line of a name wins). 802.11a keys pair by position
// whatever their length names (80211a_wep_key1 to 4), 802.11b keys by position within
// their name; keys compare in their normalized form. Lines without "=" (the model name) and
// the clear lines of the access lists are not settings. Texts are as the files hold them;
// whoever prints them escapes them.
QStringList DiffConfigLines(const QStringList& a, const QStringList& b);

// One difference of the same comparison, for programs.
struct ConfigDifference
{
    enum Kind
    {
        Changed,    // both files hold the setting, with values that differ
        OnlyInA,    // only the first file holds the setting; b is empty
        OnlyInB,    // only the second file holds it; a is empty
        AclRemoved, // a is the entry that only the first file's access control list holds
        AclAdded,   // b is the entry that only the second file's list holds
    };
    Kind kind;
    QString name; // as the file spells it (keys with their position); the access list's add name
    QString a;    // the value or entry in the first file, as the file holds it
    QString b;    // the same in the second file
};

// The differences in the order DiffConfigLines prints them.
QList<ConfigDifference> CompareConfigLines(const QStringList& a, const QStringList& b);
// The line DiffConfigLines prints for one difference.
QString DescribeConfigDifference(const ConfigDifference& difference);

// What writing a configuration would change on a device: the differences between the
// device's configuration (a) and the lines the console writes for it (b) that the write would
// make: every setting the written lines give a value that the device holds otherwise or not
// at all, and the access control entries of each list that the written lines rewrite (clear
// it, then add). Settings the write leaves alone are no change: those it does not hold, those
// without a value, and 802.11a keys written as "keep".
QList<ConfigDifference> ChangesOfWrite(const QStringList& deviceLines,
                                       const QStringList& writtenLines);

// The same for two files; false (and no lines) when either cannot be read.
bool DiffConfigFiles(const QString& fileA, const QString& fileB, QStringList& differences);
bool CompareConfigFiles(const QString& fileA, const QString& fileB,
                        QList<ConfigDifference>& differences);
