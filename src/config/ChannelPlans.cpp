#include "config/ChannelPlans.h"

#include <initializer_list>

namespace {

ChannelPlanRow Row(std::initializer_list<int> channels)
{
    ChannelPlanRow row;
    row.fill(-1);
    int slot = 0;
    for (const int channel : channels)
        row[slot++] = channel;
    return row;
}

ChannelPlanRow Range(int first, int last)
{
    ChannelPlanRow row;
    row.fill(-1);
    int slot = 0;
    for (int channel = first; channel <= last; ++channel)
        row[slot++] = channel;
    return row;
}

ChannelPlanTable BuildTable()
{
    return {{
        Row({36, 40, 44, 48, 52, 56, 60, 64}),
        Row({34, 38, 42, 46}),
        Row({36, 40, 44, 48, 52, 56, 60, 64, 149, 153, 157, 161}),
        Row({149, 153, 157, 161, 165}),
        Row({36, 40, 44, 48}),
        Row({36, 40, 44, 48, 149, 153, 157, 161}),
        Row({52, 56, 60, 64, 149, 153, 157, 161}),
        Row({36, 40, 44, 48, 52, 56, 60, 64}),
        Row({36, 40, 44, 48, 149, 153, 157, 161, 165}),
        Row({36, 40, 44, 48, 52, 56, 60, 64}),
        Row({42, 50, 58, 152, 160}),
        Range(1, 11),
        Range(1, 13),
        Range(1, 14),
        Row({10, 11, 12, 13}),
        Row({36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108, 112, 116, 120, 124, 128, 132, 136,
             140}),
    }};
}

QStringList ToItems(const QList<int>& channels)
{
    QStringList items;
    items.reserve(channels.size());
    for (const int channel : channels)
        items.append(QString::number(channel));
    return items;
}

} // namespace

const ChannelPlanTable& KtrChannelTable()
{
    static const ChannelPlanTable table = BuildTable();
    return table;
}

QList<int> PlanChannels(const ChannelPlanTable& table, int plan)
{
    QList<int> channels;
    if (plan < 0 || plan >= kChannelPlanCount)
        return channels;
    for (const std::int32_t channel : table[plan]) {
        if (channel == -1)
            break;
        channels.append(channel);
    }
    return channels;
}

const QStringList& ChannelCountryNames()
{
    static const QStringList names = {
        "Australia", "Canada",  "China",     "Denmark", "France", "Finland", "Italy", "Netherlands",
        "Norway",    "Russian", "Singapore", "Sweden",  "Taiwan", "UK",      "US",    "Europe",
    };
    return names;
}

ChannelCountry FindChannelCountry(const QString& countryText)
{
    const QString upper = countryText.toUpper();
    const QStringList& names = ChannelCountryNames();
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).toUpper() == upper)
            return static_cast<ChannelCountry>(i);
    }
    return CountryNotInTable;
}

int ChannelPlan11a(ChannelCountry country, const QString& regDomain, const QString& turboMode)
{
    const bool turbo = turboMode == QLatin1String("enable");
    switch (country) {
    case CountryAustralia:
    case CountryCanada:
    case CountryUS:
        return turbo ? 10 : 2;
    case CountryChina:
        return 3;
    case CountryDenmark:
    case CountryFrance:
    case CountryFinland:
    case CountryNetherlands:
    case CountryNorway:
    case CountryUK:
        return 0;
    case CountryItaly:
    case CountryRussian:
    case CountrySweden:
        return 4;
    case CountrySingapore:
        return 8;
    case CountryTaiwan:
        return 6;
    case CountryEurope:
        return 15;
    case CountryNotInTable:
        break;
    }
    if (regDomain == QLatin1String("mkk"))
        return 1;
    return turbo ? 10 : 5;
}

int ChannelPlan11b(ChannelCountry country, const QString& regDomain)
{
    switch (country) {
    case CountryCanada:
    case CountryRussian:
    case CountryTaiwan:
    case CountryUS:
        return 11;
    case CountryAustralia:
    case CountryChina:
    case CountryDenmark:
    case CountryFinland:
    case CountryItaly:
    case CountryNetherlands:
    case CountryNorway:
    case CountrySweden:
    case CountryUK:
    case CountryEurope:
        return 12;
    case CountryFrance:
    case CountrySingapore:
        return 14;
    case CountryNotInTable:
        break;
    }
    return regDomain == QLatin1String("mkk") ? 13 : 11;
}

ChannelLists MakeChannelLists(const QString& countryText, const QString& turboMode,
                              const QString& regDomain)
{
    const ChannelCountry country = FindChannelCountry(countryText);
    const ChannelPlanTable& table = KtrChannelTable();
    return {ToItems(PlanChannels(table, ChannelPlan11a(country, regDomain, turboMode))),
            ToItems(PlanChannels(table, ChannelPlan11b(country, regDomain)))};
}
