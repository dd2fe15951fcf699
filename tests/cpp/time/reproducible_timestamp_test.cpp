#include "time/reproducible_timestamp.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace vok {
namespace {

class EpochVariable : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("SOURCE_DATE_EPOCH"); }
    static std::optional<std::string> stamp_for(const char* value) {
        setenv("SOURCE_DATE_EPOCH", value, 1);
        return reproducible_timestamp();
    }
};

TEST_F(EpochVariable, UsableValuesGiveTheirInstant) {
    const std::pair<const char*, const char*> cases[] = {
        {"0", "1970-01-01T00:00:00+00:00"},
        {"-0", "1970-01-01T00:00:00+00:00"},
        {"0001", "1970-01-01T00:00:01+00:00"},
        {"-1", "1969-12-31T23:59:59+00:00"},
        {"+1700000000", "2023-11-14T22:13:20+00:00"},
        {"253402300799", "9999-12-31T23:59:59+00:00"},
        {"253402300800", "+10000-01-01T00:00:00+00:00"},
        {"-62167219200", "0000-01-01T00:00:00+00:00"},
        {"-62167219201", "-0001-12-31T23:59:59+00:00"},
        {"8210266876799", "+262142-12-31T23:59:59+00:00"},
        {"-8334601228800", "-262143-01-01T00:00:00+00:00"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(stamp_for(value), std::optional<std::string>(expected)) << value;
    }
}

TEST_F(EpochVariable, UnusableValuesGiveNothing) {
    for (const char* value :
         {"", "+", "-", "1700000000\n", "1700000000 ", " 1700000000", "1.7e9", "0x10", "1_000",
          "+-1", "8210266876800", "-8334601228801", "9223372036854775807", "-9223372036854775808",
          "9223372036854775808", "99999999999999999999", "\xff"}) {
        EXPECT_EQ(stamp_for(value), std::nullopt) << value;
    }
}

TEST_F(EpochVariable, ReadAgainOnEveryCall) {
    EXPECT_EQ(stamp_for("0"), std::optional<std::string>("1970-01-01T00:00:00+00:00"));
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(reproducible_timestamp(), std::nullopt);
    EXPECT_EQ(stamp_for("60"), std::optional<std::string>("1970-01-01T00:01:00+00:00"));
}

TEST(EpochSeconds, SixtyFourBitLimitsParseBeforeTheRangeCheck) {
    EXPECT_EQ(parse_epoch_seconds("-9223372036854775808"), std::nullopt);
    EXPECT_EQ(parse_epoch_seconds("8210266876799"), 8210266876799);
    EXPECT_EQ(parse_epoch_seconds("-8334601228800"), -8334601228800);
}

} // namespace
} // namespace vok
