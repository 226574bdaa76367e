// check-port's judgement of what a loopback plug gave back, without a port.

#include "cli/portcheck.h"
#include "link/linedefinition.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qmr;

TEST(PortCheck, PatternHoldsEveryByteValueForLongEnough)
{
    for (const char *definition : BaudRateTable) {
        const LineSettings line = *parseLineDefinition(definition);
        const std::string pattern = checkPattern(line);
        EXPECT_EQ(pattern.size() % 256, 0u) << definition;
        EXPECT_GE(double(pattern.size()) * bitsPerByte(line) / line.baud, 0.4) << definition;
        std::string sorted = pattern.substr(0, 256);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << definition;
    }
}

TEST(PortCheck, LostBytesAreNotCountedAsChanged)
{
    const std::string sent = checkPattern(*parseLineDefinition("4800,n,8,1"));
    struct Case
    {
        std::string back;
        std::int64_t changed;
    };
    std::string flipped = sent;
    flipped[10] = char(flipped[10] ^ 0x40);
    flipped[200] = char(flipped[200] ^ 0x01);
    const Case cases[] = {
        {sent, 0},
        {sent.substr(0, 100), 0},                        // the tail lost
        {sent.substr(0, 50) + sent.substr(53), 0},       // three lost in the middle
        {flipped, 2},                                    // two changed
        {sent.substr(0, 50) + 'x' + sent.substr(60), 1}, // nine lost, one changed in their place
    };
    for (const Case &c : cases)
        EXPECT_EQ(changedBytes(sent, c.back), c.changed) << c.back.size();
}

TEST(PortCheck, RateFromArrivalTimes)
{
    const LineSettings line = *parseLineDefinition("9600,e,8,1"); // 11 bits: 872.7 bytes/s
    std::vector<std::uint32_t> steady;
    std::vector<std::uint32_t> paused;
    for (int i = 0; i < 512; ++i) {
        steady.push_back(std::uint32_t(1000 + i * 11000 / 9600));
        // A 40 ms pause of the reader near the end moves a few bytes, not the median.
        paused.push_back(steady.back() + (i >= 440 && i < 470 ? 40 : 0));
    }
    EXPECT_NEAR(measuredRate(steady, line), 1.0, 0.01);
    EXPECT_NEAR(measuredRate(paused, line), 1.0, 0.01);
    EXPECT_EQ(measuredRate({1, 2, 3}, line), 0); // too few to time
    LineCheck check{"9600,e,8,1", 512, 512, 0, 1.031};
    EXPECT_FALSE(check.ok());
    check.rate = 0.975;
    EXPECT_TRUE(check.ok());
}
