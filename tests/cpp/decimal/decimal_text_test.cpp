// Decimal text: parsing (scale kept, separators, rounding of surplus digits, error messages),
// printing, and the accessors and rounding helpers. Rounding of surplus digits was also checked
// against an exact (Python decimal) model on random texts.
#include <gtest/gtest.h>

#include "decimal/decimal.h"

namespace vok {
namespace {

static_assert(sizeof(Decimal) == 16);

std::string parse_and_print(std::string_view text) {
    auto parsed = Decimal::parse(text);
    return parsed.ok() ? parsed->to_string() : parsed.error().to_string();
}

TEST(DecimalParse, PrintsBackWithItsScale) {
    const struct {
        const char* text;
        const char* printed;
    } cases[] = {
        {"1.50", "1.50"},
        {"-0.001", "-0.001"},
        {"+7", "7"},
        {"0.000", "0.000"},
        {"-0.00", "0.00"}, // zero has no sign
        {"-.5", "-0.5"},
        {"5.", "5"},
        {"00001.1", "1.1"},
        {"1_000.000_1", "1000.0001"},
        {"1__0_", "10"},
        {"1._5", "1.5"},
        {"-79228162514264337593543950335", "-79228162514264337593543950335"},
        {"0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        {"7.9228162514264337593543950335", "7.9228162514264337593543950335"},
        // More than 28 fractional digits: rounded half to even on everything dropped.
        {"0.00000000000000000000000000015", "0.0000000000000000000000000002"},
        {"0.00000000000000000000000000025", "0.0000000000000000000000000002"},
        {"0.000000000000000000000000000250001", "0.0000000000000000000000000003"},
        {"1.00000000000000000000000000005", "1.0000000000000000000000000000"},
        // Fewer places when the mantissa would pass 96 bits.
        {"9.9999999999999999999999999999", "10.000000000000000000000000000"},
        {"9999999999999999999999999999.99", "10000000000000000000000000000"},
        {"79228162514264337593543950335.4", "79228162514264337593543950335"},
        {"7.92281625142643375935439503355", "7.922816251426433759354395034"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_and_print(c.text), c.printed) << c.text;
}

TEST(DecimalParse, ReportsTheParsersMessage) {
    const std::string empty = "Invalid decimal: empty";
    const std::string no_digits = "Invalid decimal: no digits found";
    const std::string lead = "Invalid decimal: must start lead with a number";
    const std::string unknown = "Invalid decimal: unknown character";
    const std::string points = "Invalid decimal: two decimal points";
    const std::string overflow = "Invalid decimal: overflow from too many digits";
    const struct {
        const char* text;
        const std::string& message;
    } cases[] = {
        {"", empty},
        {"-", no_digits},
        {".", no_digits},
        {"-.", no_digits},
        {"_1", lead},
        {"-_1", lead},
        {"1e3", unknown},
        {" 1", unknown},
        {"1 ", unknown},
        {"+-1", unknown},
        {"1,5", unknown},
        {"\xEF\xBC\x91", unknown},
        {"1.2.3", points},
        {"1..2", points},
        // Digits past the precision are still checked.
        {"0.00000000000000000000000000001x", unknown},
        {"0.000000000000000000000000000011.5", points},
        {"79228162514264337593543950336", overflow},
        {"-99999999999999999999999999999.9", overflow},
        // Fits only until rounded: 2^96 - 1 and a half, odd, rounds up past the limit.
        {"79228162514264337593543950335.5", overflow},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_and_print(c.text), c.message) << c.text;
}

TEST(DecimalParts, AccessorsAndLimits) {
    Decimal d = *Decimal::parse("-12.50");
    EXPECT_TRUE(d.is_negative());
    EXPECT_EQ(static_cast<uint64_t>(d.mantissa()), 1250u);
    EXPECT_EQ(d.scale(), 2u);
    EXPECT_FALSE(Decimal::parse("-0.0")->is_negative());

    const unsigned __int128 limit = static_cast<unsigned __int128>(1) << 96;
    EXPECT_EQ(Decimal::from_parts(limit - 1, 28, true)->to_string(),
              "-7.9228162514264337593543950335");
    EXPECT_FALSE(Decimal::from_parts(limit, 0, false).has_value());
    EXPECT_FALSE(Decimal::from_parts(1, 29, false).has_value());
    EXPECT_EQ(Decimal::from_i64(INT64_MIN).to_string(), "-9223372036854775808");
    EXPECT_EQ(Decimal::from_u64(UINT64_MAX).to_string(), "18446744073709551615");
    EXPECT_EQ(Decimal().to_string(), "0");
}

TEST(DecimalParts, NegatedNormalizedAndRounded) {
    EXPECT_EQ(Decimal::parse("0.00")->negated().to_string(), "0.00");
    EXPECT_EQ(Decimal::parse("-1.50")->abs().to_string(), "1.50");
    EXPECT_EQ(Decimal::parse("-12.500")->normalized().to_string(), "-12.5");
    EXPECT_EQ(Decimal::parse("1200")->normalized().to_string(), "1200");
    EXPECT_EQ(Decimal::parse("0.000")->normalized().to_string(), "0");
    const struct {
        const char* text;
        uint32_t places;
        const char* rounded;
    } cases[] = {{"1.235", 2, "1.24"},  {"1.225", 2, "1.22"}, {"-1.225", 2, "-1.22"},
                 {"1.2251", 2, "1.23"}, {"2.5", 0, "2"},      {"3.5", 0, "4"},
                 {"-0.004", 2, "0.00"}, {"1.2", 5, "1.2"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Decimal::parse(c.text)->round_dp(c.places).to_string(), c.rounded) << c.text;
    }
}

TEST(DecimalParts, FailureTexts) {
    EXPECT_EQ(
        arithmetic_failure_text(DecimalOperation::Multiply, DecimalArithmeticError::Overflow{}),
        "Multiplication overflowed");
    EXPECT_EQ(arithmetic_failure_text(DecimalOperation::Divide, DecimalArithmeticError::Overflow{}),
              "Division overflowed");
    EXPECT_EQ(
        arithmetic_failure_text(DecimalOperation::Divide, DecimalArithmeticError::DivisionByZero{}),
        "Division by zero");
}

} // namespace
} // namespace vok
