#include "config/ChannelPlans.h"

#include "ConfigTestFiles.h"
#include "config/FirmwareRegion.h"

#include <gtest/gtest.h>

namespace {

QStringList Channels(std::initializer_list<int> channels)
{
    QStringList out;
    for (const int c : channels)
        out.append(QString::number(c));
    return out;
}

QStringList Range(int first, int last)
{
    QStringList out;
    for (int c = first; c <= last; ++c)
        out.append(QString::number(c));
    return out;
}

const QStringList k11aLowAndUpper = Channels({36, 40, 44, 48, 52, 56, 60, 64, 149, 153, 157, 161});

} // namespace

TEST(ChannelPlans, UnitedStatesWithAndWithoutTurbo)
{
    ChannelLists lists = MakeChannelLists("US", "enable", "");
    EXPECT_EQ(lists.channels11a, Channels({42, 50, 58, 152, 160}));
    EXPECT_EQ(lists.channels11b, Range(1, 11));
    for (const char* turbo : {"disable", "", "Enable"}) {
        lists = MakeChannelLists("US", turbo, "");
        EXPECT_EQ(lists.channels11a, k11aLowAndUpper) << turbo;
        EXPECT_EQ(lists.channels11b, Range(1, 11));
    }
}

TEST(ChannelPlans, CountryNamesMatchInAnyCase)
{
    ChannelLists lists = MakeChannelLists("france", "", "");
    EXPECT_EQ(lists.channels11a, Channels({36, 40, 44, 48, 52, 56, 60, 64}));
    EXPECT_EQ(lists.channels11b, Range(10, 13));

    lists = MakeChannelLists("Europe", "enable", "mkk");
    EXPECT_EQ(lists.channels11a, Channels({36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108, 112, 116,
                                           120, 124, 128, 132, 136, 140}));
    EXPECT_EQ(lists.channels11b, Range(1, 13));

    EXPECT_EQ(MakeChannelLists("SINGAPORE", "", "").channels11a,
              Channels({36, 40, 44, 48, 149, 153, 157, 161, 165}));
    EXPECT_EQ(MakeChannelLists("Taiwan", "", "").channels11a,
              Channels({52, 56, 60, 64, 149, 153, 157, 161}));
    EXPECT_EQ(MakeChannelLists("China", "", "").channels11b, Range(1, 13));
    EXPECT_EQ(FindChannelCountry("Russian"), CountryRussian);
    EXPECT_EQ(FindChannelCountry("Russia"), CountryNotInTable);
}

TEST(ChannelPlans, RegulatoryDomainDecidesOnlyOutsideTheCountryTable)
{
    ChannelLists lists = MakeChannelLists("", "", "mkk");
    EXPECT_EQ(lists.channels11a, Channels({34, 38, 42, 46}));
    EXPECT_EQ(lists.channels11b, Range(1, 14));

    lists = MakeChannelLists("", "", "MKK");
    EXPECT_EQ(lists.channels11a, Channels({36, 40, 44, 48, 149, 153, 157, 161}));
    EXPECT_EQ(lists.channels11b, Range(1, 11));

    EXPECT_EQ(MakeChannelLists("Atlantis", "enable", "").channels11a,
              Channels({42, 50, 58, 152, 160}));
    EXPECT_EQ(MakeChannelLists("Atlantis", "enable", "mkk").channels11a,
              Channels({34, 38, 42, 46}));
    EXPECT_EQ(MakeChannelLists("Italy", "", "mkk").channels11a, Channels({36, 40, 44, 48}));
    EXPECT_TRUE(PlanChannels(KtrChannelTable(), kChannelPlanCount).isEmpty());
}

TEST(FirmwareRegionRule, LastCharacterOfTheVersionSetsTheRegionForGood)
{
    FirmwareRegion region = FirmwareRegion::Unknown;
    RegionView view{"", true};

    ApplyFirmwareRegion(std::nullopt, region, view);
    EXPECT_EQ(region, FirmwareRegion::Unknown);
    EXPECT_TRUE(view.turboShown) << "without a selected row nothing changes";

    ApplyFirmwareRegion(QString("1.02w"), region, view);
    EXPECT_EQ(view.countryText, "");
    EXPECT_FALSE(view.turboShown);

    ApplyFirmwareRegion(QString("1.02e"), region, view);
    EXPECT_EQ(region, FirmwareRegion::Europe);
    EXPECT_EQ(view.countryText, "Europe");
    EXPECT_FALSE(view.turboShown);

    view = {"", true};
    ApplyFirmwareRegion(QString("2.00w"), region, view);
    EXPECT_EQ(region, FirmwareRegion::Europe) << "\"w\" keeps the region of the device before";
    EXPECT_EQ(view.countryText, "Europe");

    view = {"", false};
    ApplyFirmwareRegion(QString("2.00E"), region, view);
    EXPECT_EQ(region, FirmwareRegion::US);
    EXPECT_EQ(view.countryText, "US");
    EXPECT_TRUE(view.turboShown);

    view = {"Denmark", true};
    ApplyFirmwareRegion(QString(""), region, view);
    EXPECT_EQ(region, FirmwareRegion::US);
    EXPECT_EQ(view.countryText, "Denmark") << "the file's own country wins";
    EXPECT_FALSE(view.turboShown);
}
