#include "web/http_parsing.h"

#include <gtest/gtest.h>

namespace {

struct RangeCase {
    const char* header;
    qint64 size;
    qint64 first; // -1: no range
    qint64 last;
};

TEST(ByteRange, ParsesOneSatisfiableRangeAndRefusesTheRest)
{
    const RangeCase cases[] = {
        {"bytes=0-99", 1000, 0, 99},
        {"bytes=500-", 1000, 500, 999},
        {"bytes=-100", 1000, 900, 999},
        {"bytes=-5000", 1000, 0, 999},      // a suffix longer than the body is the whole body
        {"bytes=990-5000", 1000, 990, 999}, // the end is cut to the body
        {"bytes=999-999", 1000, 999, 999},
        {"bytes=1000-", 1000, -1, -1}, // starts after the body
        {"bytes=1000-2000", 1000, -1, -1},
        {"bytes=-0", 1000, -1, -1},
        {"bytes=5-3", 1000, -1, -1},
        {"bytes=0-1,5-6", 1000, -1, -1}, // several ranges
        {"bytes=-", 1000, -1, -1},
        {"bytes=a-b", 1000, -1, -1},
        {"bytes=+1-2", 1000, -1, -1},
        {"bytes=-1-2", 1000, -1, -1},
        {"items=0-9", 1000, -1, -1},
        {"0-9", 1000, -1, -1},
        {"", 1000, -1, -1},
        {"bytes=0-0", 0, -1, -1},                      // an empty body has no range
        {"bytes=99999999999999999999-", 1000, -1, -1}, // overflows a 64-bit number
        {"bytes=0-99999999999999999999", 1000, -1, -1},
    };
    for (const RangeCase& c : cases) {
        const std::optional<ByteRange> range = ParseByteRange(c.header, c.size);
        if (c.first < 0) {
            EXPECT_FALSE(range) << c.header;
            continue;
        }
        ASSERT_TRUE(range) << c.header;
        EXPECT_EQ(range->first, c.first) << c.header;
        EXPECT_EQ(range->last, c.last) << c.header;
    }
}

} // namespace
