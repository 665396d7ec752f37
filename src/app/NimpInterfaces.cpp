#include "app/NimpInterfaces.h"

#include "app/AppErrors.h"
#include "common/TextHelpers.h"
#include "common/VxError.h"

QList<VxLocalInterface> ChooseNimpInterfaces(const QStringList& names,
                                             const QList<VxLocalInterface>& local)
{
    QList<VxLocalInterface> chosen;
    if (names.isEmpty()) {
        for (const VxLocalInterface& l : local)
            if (l.up && !l.loopback && !l.ipv4.isEmpty())
                chosen.append(l);
        return chosen;
    }
    for (const QString& name : names) {
        const auto it = std::find_if(local.cbegin(), local.cend(),
                                     [&name](const VxLocalInterface& l) { return l.name == name; });
        if (it == local.cend()) {
            QStringList all;
            for (const VxLocalInterface& l : local)
                all.append(l.name);
            throw VxError(AppErrorUnknownInterface,
                          QString::fromLatin1(NimpInterfaceText::Unknown)
                              .arg(EscapeUntrusted(name), all.join(QStringLiteral(", "))));
        }
        if (!it->up)
            throw VxError(AppErrorUnknownInterface,
                          QString::fromLatin1(NimpInterfaceText::NotUp).arg(name));
        if (it->ipv4.isEmpty())
            throw VxError(AppErrorUnknownInterface,
                          QString::fromLatin1(NimpInterfaceText::NoAddress).arg(name));
        if (std::none_of(chosen.cbegin(), chosen.cend(),
                         [&name](const VxLocalInterface& l) { return l.name == name; }))
            chosen.append(*it);
    }
    return chosen;
}

QStringList ParseInterfaceNames(const QString& text)
{
    QStringList names;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}
