#include "web/http_parsing.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 kWhole = -1;
constexpr qint64 kUnsatisfiable = -2;

struct RangeCase {
    const char* header;
    qint64 size;
    qint64 first; // or kWhole, kUnsatisfiable
    qint64 last;
};

TEST(ByteRange, ReadsTheRangeAskedAsClientsExpect)
{
    const RangeCase cases[] = {
        {"bytes=0-99", 1000, 0, 99},
        {"bytes=500-", 1000, 500, 999},
        {"bytes=-100", 1000, 900, 999},
        {"bytes=-5000", 1000, 0, 999},      // a suffix longer than the body is the whole body
        {"bytes=990-5000", 1000, 990, 999}, // the end is cut to the body
        {"bytes=999-999", 1000, 999, 999},
        {"BYTES=0-9", 1000, 0, 9}, // the unit whatever its case
        {" Bytes = 3-4 ", 1000, 3, 4},
        {"bytes=0-99999999999999999999", 1000, 0, 999}, // past what 64 bits hold: past the end
        {"bytes=0-1,5-6", 1000, 0, 1},                  // several ranges: the first
        {"bytes=0-1, ,5-6", 1000, 0, 1},
        {"bytes=2000-,5-6", 1000, kWhole, 0},     // only a later range can be served
        {"bytes=1000-", 1000, kUnsatisfiable, 0}, // starts after the body
        {"bytes=1000-2000", 1000, kUnsatisfiable, 0},
        {"bytes=99999999999999999999-", 1000, kUnsatisfiable, 0},
        {"bytes=2000-,3000-", 1000, kUnsatisfiable, 0},
        {"bytes=-0", 1000, kUnsatisfiable, 0},
        {"bytes=0-0", 0, kUnsatisfiable, 0}, // an empty body has no range
        {"bytes=-5", 0, kUnsatisfiable, 0},
        {"items=0-5", 1000, kWhole, 0}, // another unit, or anything malformed: the whole body
        {"bytes=5-3", 1000, kWhole, 0},
        {"bytes=0-1,5-3", 1000, kWhole, 0},
        {"bytes=-", 1000, kWhole, 0},
        {"bytes=", 1000, kWhole, 0},
        {"bytes=a-b", 1000, kWhole, 0},
        {"bytes=+1-2", 1000, kWhole, 0},
        {"bytes=-1-2", 1000, kWhole, 0},
        {"bytes 0-9", 1000, kWhole, 0},
        {"0-9", 1000, kWhole, 0},
        {"", 1000, kWhole, 0},
    };
    for (const RangeCase& c : cases) {
        const RangeAsked asked = ParseRange(c.header, c.size);
        if (c.first == kWhole || c.first == kUnsatisfiable) {
            EXPECT_EQ(asked.kind, c.first == kWhole ? RangeKind::Whole : RangeKind::Unsatisfiable) << c.header;
            continue;
        }
        ASSERT_EQ(asked.kind, RangeKind::Part) << c.header;
        EXPECT_EQ(asked.range.first, c.first) << c.header;
        EXPECT_EQ(asked.range.last, c.last) << c.header;
    }
}

} // namespace

namespace {

TEST(RequestParsing, DecodesParametersAndCookiesAndRefusesBrokenOnes)
{
    const std::optional<Parameters> parameters = ParseParameters("day=1&phone=%E9%80%9A+138&flag&=x&&day=2");
    ASSERT_TRUE(parameters);
    const Parameters expected = {{"day", "1"}, {"phone", "通 138"}, {"flag", ""}, {"", "x"}, {"day", "2"}};
    EXPECT_EQ(*parameters, expected);
    EXPECT_EQ(ParameterValue(*parameters, "day"), "1");
    for (const char* broken : {"a=%", "a=%4", "a=%G1", "a=%00", "a=%C3", "%ff=1"})
        EXPECT_FALSE(ParseParameters(broken)) << broken;
    QByteArray many;
    for (int i = 0; i <= kMostParameters; ++i)
        many += "p=1&";
    EXPECT_FALSE(ParseParameters(many));

    const std::optional<RequestTarget> target = ParseRequestTarget("/api/search?page=2&text=%E9%80%9A");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, "/api/search");
    EXPECT_EQ(ParameterValue(target->query, "text"), "通");

    EXPECT_EQ(CookieValue("a=1; sdvoice_session=abc ;b=2", "sdvoice_session"), "abc");
    EXPECT_EQ(CookieValue("sdvoice_session_old=1; xsdvoice_session=2", "sdvoice_session"), "");
    EXPECT_EQ(CookieValue("", "sdvoice_session"), "");
}

} // namespace
