#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

// The channel plans of the KTR-4200: which channels each band may use where the access
// point stands, picked from the country, the regulatory domain and (802.11a) turbo mode.

inline constexpr int kChannelPlanCount = 16;
inline constexpr int kChannelPlanSlots = 23; // up to 22 channels and the -1 that ends a row
using ChannelPlanRow = std::array<std::int32_t, kChannelPlanSlots>;
using ChannelPlanTable = std::array<ChannelPlanRow, kChannelPlanCount>;

const ChannelPlanTable& KtrChannelTable();

// The channels of one plan, in plan order; empty for a plan outside the table.
QList<int> PlanChannels(const ChannelPlanTable& table, int plan);

// Countries in search order; "Europe" is last and is not among the country box's items.
enum ChannelCountry
{
    CountryNotInTable = -1,
    CountryAustralia,
    CountryCanada,
    CountryChina,
    CountryDenmark,
    CountryFrance,
    CountryFinland,
    CountryItaly,
    CountryNetherlands,
    CountryNorway,
    CountryRussian,
    CountrySingapore,
    CountrySweden,
    CountryTaiwan,
    CountryUK,
    CountryUS,
    CountryEurope,
};
const QStringList& ChannelCountryNames();

// The country whose name equals the text in either case.
ChannelCountry FindChannelCountry(const QString& countryText);

// The plans; regulatory domain and turbo texts are compared exactly ("mkk", "enable").
int ChannelPlan11a(ChannelCountry country, const QString& regDomain, const QString& turboMode);
int ChannelPlan11b(ChannelCountry country, const QString& regDomain);

// The item lists of both channel boxes for what the window shows.
struct ChannelLists
{
    QStringList channels11a;
    QStringList channels11b;
};
ChannelLists MakeChannelLists(const QString& countryText, const QString& turboMode,
                              const QString& regDomain);
