// The shared words and their lookups: the ones every part of the tool relies on reading the
// same way (a COM name, a line setting as typed, a remembered language, a mode word).

#include "vocabulary/vocabulary.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace qmr {
namespace {

TEST(Vocabulary, ComNamesInAnyCaseUpToTheOneBound)
{
    EXPECT_EQ(comNumberOf("COM1"), 1);
    EXPECT_EQ(comNumberOf("com16"), 16);
    EXPECT_EQ(comNumberOf("Com255"), MaxComNumber);
    for (const char *bad : {"COM0", "COM05", "COM256", "COM", "COM1 ", "COM+1", "LPT1", "COMx",
                            "COM99999999999999999999", "/dev/ttyUSB0"})
        EXPECT_EQ(comNumberOf(bad), std::nullopt) << bad;
}

TEST(Vocabulary, LineSettingsByIndexOrByTheirDefinitionInAnyCase)
{
    EXPECT_EQ(lineSettingIndexFor("7"), 7);
    EXPECT_EQ(lineSettingIndexFor("38400,E,8,1"), 7);
    EXPECT_EQ(lineSettingIndexFor("115200,e,8,1"), 11);
    for (const char *bad : {"12", "-1", "+5", " 5", "0000000005", "14400,n,8,1", "19200,o,8,1", ""})
        EXPECT_EQ(lineSettingIndexFor(bad), std::nullopt) << bad;
    // The stored form is compared exactly.
    EXPECT_EQ(baudRateIndexOf("38400,e,8,1"), 7);
    EXPECT_EQ(baudRateIndexOf("38400,E,8,1"), -1);
}

TEST(Vocabulary, LanguagesModesAndRs485)
{
    EXPECT_EQ(languageIndexForFlag("ChineseBIG5"), 2);
    EXPECT_EQ(languageIndexForFlag("chinesegb"), 0);
    EXPECT_EQ(languageIndexForFlag("English"), 0);
    EXPECT_EQ(languageIndexForCode("gb"), 1);
    EXPECT_EQ(languageIndexForCode("GB"), -1);
    EXPECT_EQ(scriptOf(2), Script::TraditionalChinese);
    EXPECT_EQ(scriptOf(7), Script::Latin);
    EXPECT_EQ(readerModeIndexFor("one"), 1);
    EXPECT_EQ(readerModeIndexFor("One"), std::nullopt);
    EXPECT_EQ(rs485IndexOf(40), 2);
    EXPECT_EQ(rs485IndexOf(33), -1);
    EXPECT_EQ(rs485Name(0), "RS485 24");
}

TEST(Vocabulary, TimeStampsInTheirTwoPrecisions)
{
    const std::string seconds = localTimeStamp(TimePrecision::Seconds);
    const std::string milliseconds = localTimeStamp(TimePrecision::Milliseconds);
    EXPECT_EQ(seconds.size(), 19u) << seconds;
    EXPECT_EQ(seconds[10], 'T');
    EXPECT_EQ(milliseconds.size(), 23u) << milliseconds;
    EXPECT_EQ(milliseconds[19], '.');
}

} // namespace
} // namespace qmr
