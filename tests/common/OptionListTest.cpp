#include "common/VxError.h"
#include "common/VxOptionList.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

const VxOptionRow kRates[] = {
    {0, nullptr, "Auto"},
    {1, nullptr, "1 Mbps"},
    {11, nullptr, "11 Mbps"},
    {0, nullptr, nullptr},
};

const VxOptionRow kModes[] = {
    {0, "ap", "Access Point"},
    {0, "bridge", "Bridge"},
    {0, nullptr, nullptr},
};

const VxOptionRow kPrefixes[] = {
    {0, "ch", "Channel "},
    {0, "pw", "Power "},
    {0, nullptr, nullptr},
};

TEST(OptionListTest, IntegerValues)
{
    VxOptionList list(kRates, VxOptionValueType::Integer, false);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(2).value, 11);
    EXPECT_EQ(list.Item(2).name, "11 Mbps");
    EXPECT_EQ(list.FindByValue("11"), 2);
    EXPECT_EQ(list.FindByValue("0"), 0);
    EXPECT_EQ(list.FindByValue("(NULL)"), -1); // even though an entry's value is 0
    EXPECT_EQ(list.FindByValue("5"), -1);
    EXPECT_EQ(list.ValueToName("11"), "11 Mbps");
    EXPECT_EQ(list.ValueToName("5"), "5");
    EXPECT_EQ(list.NameToValue("1 MBPS"), "1");
    EXPECT_EQ(list.NameToValue("2 Mbps"), "2 Mbps");
    try {
        list.FindByValue("1x");
        FAIL() << "a text that is no integer was accepted";
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), "'1x' is not a valid integer value");
    }
    EXPECT_THROW(list.Item(3), std::out_of_range);
    EXPECT_THROW(list.Item(-1), std::out_of_range);
}

TEST(OptionListTest, TextValuesAndCaseSensitivity)
{
    VxOptionList exact(kModes, VxOptionValueType::Text, true);
    EXPECT_EQ(exact.FindByName("Bridge"), 1);
    EXPECT_EQ(exact.FindByName("bridge"), -1);
    EXPECT_EQ(exact.FindByValue("AP"), -1);
    EXPECT_EQ(exact.NameToValue("Access Point"), "ap");
    EXPECT_EQ(exact.ValueToName("bridge"), "Bridge");

    VxOptionList loose(kModes, VxOptionValueType::Text, false);
    EXPECT_EQ(loose.FindByName("BRIDGE"), 1);
    EXPECT_EQ(loose.FindByValue("AP"), 0);
    EXPECT_EQ(loose.FindByName("Bridge2"), -1);

    // Selection in a control: by name first, then by value.
    EXPECT_EQ(loose.SelectionIndex("Bridge"), 1);
    EXPECT_EQ(loose.SelectionIndex("ap"), 0);
    EXPECT_EQ(loose.SelectionIndex("repeater"), -1);
}

TEST(OptionListTest, PrefixValuesReplaceTheLeadingPart)
{
    VxOptionList list(kPrefixes, VxOptionValueType::Prefix, false);
    EXPECT_EQ(list.ValueToName("ch36"), "Channel 36");
    EXPECT_EQ(list.NameToValue("Channel 36"), "ch36");
    EXPECT_EQ(list.NameToValue("POWER 17"), "pw17");
    EXPECT_EQ(list.ValueToName("PW5"), "Power 5");
    EXPECT_EQ(list.FindByName("Chan"), -1); // shorter than the name
    EXPECT_EQ(list.ValueToName("xx"), "xx");

    VxOptionList exact(kPrefixes, VxOptionValueType::Prefix, true);
    EXPECT_EQ(exact.FindByValue("CH1"), -1);
}

TEST(OptionListTest, AppendAddsRowsAfterTheExistingOnes)
{
    VxOptionList list(kModes, VxOptionValueType::Text, false);
    const VxOptionRow more[] = {{0, "ap", "Duplicate"}, {0, "wds", "WDS"}, {0, nullptr, nullptr}};
    list.Append(more);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.Item(3).name, "WDS");
    EXPECT_EQ(list.ValueToName("ap"), "Access Point"); // the first match wins
}

} // namespace
