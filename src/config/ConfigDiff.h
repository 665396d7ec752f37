#pragma once

#include <QString>
#include <QStringList>

// The settings that differ between two configuration files, for people: one line each, in
// the order of the first file, then the settings only the second holds, then the access
// control entries added and removed:
//   80211a_ssid: "Lobby" -> "Lobby 2"
//   country_code: US -> (none)
//   80211b_acl_mac_add: removed 00:05:5D:00:00:01
//   80211b_acl_mac_add: added 00:05:5D:00:00:02
// The files are read as the verification reads them (ReadConfigLines, names trimmed and
// matched in either case, the first line of a name wins). 802.11a keys pair by position
// whatever their length names (80211a_wep_key1 to 4), 802.11b keys by position within
// their name; keys compare in their normalized form. Lines without "=" (the model name) and
// the clear lines of the access lists are not settings. Texts are as the files hold them;
// whoever prints them escapes them.
QStringList DiffConfigLines(const QStringList& a, const QStringList& b);

// The same for two files; false (and no lines) when either cannot be read.
bool DiffConfigFiles(const QString& fileA, const QString& fileB, QStringList& differences);
