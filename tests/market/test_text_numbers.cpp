#include "market/TextNumbers.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(TextNumbers, ReadLikeTheWireFormatsExpect)
{
    EXPECT_EQ(LeadingDouble(" 12.5abc"), 12.5);
    EXPECT_EQ(LeadingDouble("-3"), -3.0);
    EXPECT_EQ(LeadingDouble("abc"), 0.0);
    EXPECT_EQ(LeadingDouble(""), 0.0);
    EXPECT_EQ(Low32OfTruncated(4294967297.7), 1);
    EXPECT_EQ(Low32OfTruncated(-5.9), -5);
    EXPECT_EQ(Low32OfTruncated(1e300), 0);
    EXPECT_EQ(FormatQuotePrice(10.0), "10.000");
    EXPECT_EQ(FormatQuotePrice(9.99999), "9.99999");
}
