#pragma once

#include "common/VxNetInterface.h"

#include <QList>
#include <QStringList>

// The local interfaces Discover sends its requests out of, as NimpInterface of system.ini (or
// --interface on the command line) names them. With no names: every interface that is up, has
// an IPv4 address and is not a loopback, in the platform's order. Otherwise exactly the named
// ones, in the order named, each once. Raises a VxError with AppErrorUnknownInterface naming the
// first name that is no interface of local, or an interface that is not up or has no IPv4
// address: a request must not quietly go nowhere.
QList<VxLocalInterface> ChooseNimpInterfaces(const QStringList& names,
                                             const QList<VxLocalInterface>& local);

// NimpInterface as written in system.ini: names separated by commas, blanks around them and
// empty names ignored.
QStringList ParseInterfaceNames(const QString& text);

namespace NimpInterfaceText {
// %1 the name asked for, %2 the names of the machine's interfaces.
inline constexpr const char* Unknown =
    "There is no network interface named \"%1\" on this machine (NimpInterface, --interface); "
    "its interfaces are: %2.";
inline constexpr const char* NotUp = "The network interface \"%1\" is not up.";
inline constexpr const char* NoAddress = "The network interface \"%1\" has no IPv4 address.";
// Discover's status text when no interface qualifies.
inline constexpr const char* NoneUsable =
    "No network interface is up with an IPv4 address: Discover had nowhere to send.";
} // namespace NimpInterfaceText
