// RFC 3339: the parser's accepted forms, offsets, leap years and leap seconds, its messages and
// their order, and the canonical text across the whole 64-bit range. Expected epoch seconds for
// dates were computed with Python's datetime.
#include <gtest/gtest.h>

#include "time/rfc3339.h"

namespace vok {
namespace {

std::string reformat(std::string_view text) {
    auto parsed = parse_rfc3339(text);
    return parsed.ok() ? format_rfc3339(*parsed) : parsed.error();
}

TEST(Rfc3339, ParsesToTheInstantInUtc) {
    const struct {
        const char* text;
        const char* formatted;
    } cases[] = {
        {"2024-01-01t00:00:00z", "2024-01-01T00:00:00+00:00"},
        {"2024-01-01 01:30:00+01:30", "2024-01-01T00:00:00+00:00"},
        {"2023-12-31T23:00:00-01:00", "2024-01-01T00:00:00+00:00"},
        {"2024-01-01T00:00:00\xE2\x88\x92"
         "01:00",
         "2024-01-01T01:00:00+00:00"},
        {"2024-02-29T12:00:00Z", "2024-02-29T12:00:00+00:00"},
        {"2024-06-15T10:20:30.5Z", "2024-06-15T10:20:30.500+00:00"},
        {"2024-06-15T10:20:30.123456Z", "2024-06-15T10:20:30.123456+00:00"},
        {"2024-06-15T10:20:30.123456789123Z", "2024-06-15T10:20:30.123456789+00:00"},
        {"2024-06-15T10:20:30.000Z", "2024-06-15T10:20:30+00:00"},
        {"0000-01-01T00:00:00+00:01", "-0001-12-31T23:59:00+00:00"},
        {"9999-12-31T23:59:59-23:59", "+10000-01-01T23:58:59+00:00"},
        // A leap second counts on into the next minute.
        {"2016-12-31T23:59:60.5Z", "2017-01-01T00:00:00.500+00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reformat(c.text), c.formatted) << c.text;
}

TEST(Rfc3339, InstantsAreEpochSecondsOnTheGregorianCalendar) {
    const struct {
        const char* text;
        int64_t seconds;
    } cases[] = {{"1969-12-31T23:59:59Z", -1},           {"2023-11-14T22:13:20Z", 1700000000},
                 {"2000-02-29T00:00:00Z", 951782400},    {"2000-03-01T00:00:00Z", 951868800},
                 {"1900-03-01T00:00:00Z", -2203891200},  {"2100-03-01T00:00:00Z", 4107542400},
                 {"1600-02-29T00:00:00Z", -11670998400}, {"0001-01-01T00:00:00Z", -62135596800}};
    for (const auto& c : cases)
        EXPECT_EQ(parse_rfc3339(c.text)->seconds, c.seconds) << c.text;
    EXPECT_EQ(parse_rfc3339("2024-01-01T00:00:00.25+05:45").value(),
              (UtcInstant{1704046500, 250'000'000}));
}

TEST(Rfc3339, ErrorsReportTheFirstProblem) {
    const std::string too_short = "premature end of input";
    const std::string invalid = "input contains invalid characters";
    const std::string range = "input is out of range";
    const std::string trailing = "trailing input";
    const struct {
        const char* text;
        const std::string& message;
    } cases[] = {
        {"", too_short},
        {"2024", too_short},
        {"2024-01-01", too_short},
        // Too few characters left is reported before what they are.
        {"2024-01-x", too_short},
        {"2024-01-xx", invalid},
        {"+2024-01-01T00:00:00Z", invalid},
        {"2024-01-01X00:00:00Z", invalid},
        {"2024-13-01T00:00:00Z", range},
        {"2024-01-00T00:00:00Z", range},
        {"2023-02-29T00:00:00Z", range},
        {"1900-02-29T00:00:00Z", range},
        {"2024-04-31T00:00:00Z", range},
        {"2024-01-01T24:00:00Z", range},
        {"2024-01-01T23:59:61Z", range},
        // Field ranges are checked as read, the day of the month only after the whole text.
        {"2024-13-01", range},
        {"2024-02-30T00:00:00Zjunk", trailing},
        {"2024-01-01T00:00:00", too_short},
        {"2024-01-01T00:00:00.", too_short},
        {"2024-01-01T00:00:00.Z", invalid},
        {"2024-01-01T00:00:00+01", too_short},
        {"2024-01-01T00:00:00+0100", invalid},
        {"2024-01-01T00:00:00+01:0", too_short},
        {"2024-01-01T00:00:00+01:60", range},
        {"2024-01-01T00:00:00+01:6x", invalid},
        {"2024-01-01T00:00:00+24:00", range},
        {"2024-01-01T00:00:00UTC", invalid},
        {"2024-01-01T00:00:00Z ", trailing},
    };
    for (const auto& c : cases)
        EXPECT_EQ(reformat(c.text), c.message) << c.text;
}

TEST(Rfc3339, FormatsTheCanonicalForm) {
    const struct {
        int64_t seconds;
        uint32_t nanos;
        const char* text;
    } cases[] = {
        {0, 0, "1970-01-01T00:00:00+00:00"},
        {253402300799, 0, "9999-12-31T23:59:59+00:00"},
        {253402300800, 0, "+10000-01-01T00:00:00+00:00"},
        {-62167219200, 0, "0000-01-01T00:00:00+00:00"},
        {-62167219201, 0, "-0001-12-31T23:59:59+00:00"},
        {-8334601315200, 0, "-262144-12-31T00:00:00+00:00"},
        {INT64_MAX, 0, "+292277026596-12-04T15:30:07+00:00"},
        {INT64_MIN, 0, "-292277022657-01-27T08:29:52+00:00"},
        {0, 120'000'000, "1970-01-01T00:00:00.120+00:00"},
        {0, 999'999'000, "1970-01-01T00:00:00.999999+00:00"},
        {-1, 1, "1969-12-31T23:59:59.000000001+00:00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(format_rfc3339({c.seconds, c.nanos}), c.text);
}

TEST(Rfc3339, FormatThenParseRoundTrips) {
    // Every 0.9 days or so across years 0..9999, with a varying fraction.
    uint64_t step = 0;
    for (int64_t seconds = -62167219200; seconds <= 253402300799; seconds += 77'777'777) {
        UtcInstant instant{seconds, static_cast<uint32_t>(++step * 7'919'113 % 1'000'000'000)};
        auto parsed = parse_rfc3339(format_rfc3339(instant));
        ASSERT_TRUE(parsed.ok()) << format_rfc3339(instant);
        EXPECT_EQ(parsed.value(), instant) << format_rfc3339(instant);
    }
    EXPECT_GT(now_utc().seconds, 1704067200);
}

} // namespace
} // namespace vok
