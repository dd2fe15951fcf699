// Decimal arithmetic and comparison: exact results with the scales the reference arithmetic
// gives, half-even rounding when digits must go, and overflow at the 96-bit boundary. The results
// were also checked against an exact (Python decimal) model of these rules on random operands.
#include <gtest/gtest.h>

#include <limits>

#include "decimal/decimal.h"

namespace vok {
namespace {

Decimal dec(std::string_view text) {
    auto parsed = Decimal::parse(text);
    EXPECT_TRUE(parsed.ok()) << text;
    return parsed.ok() ? parsed.value() : Decimal();
}

std::string apply(std::string_view a, char op, std::string_view b) {
    auto result = op == '+'   ? dec(a).checked_add(dec(b))
                  : op == '-' ? dec(a).checked_sub(dec(b))
                  : op == '*' ? dec(a).checked_mul(dec(b))
                              : dec(a).checked_div(dec(b));
    return result.ok() ? result->to_string() : result.error().to_string();
}

constexpr const char* kMax = "79228162514264337593543950335"; // 2^96 - 1

struct Case {
    const char* a;
    char op;
    const char* b;
    const char* expected; // printed result or the error's text
};

TEST(DecimalArithmetic, ResultsAndScales) {
    const Case cases[] = {
        {"0.1", '+', "0.2", "0.3"},
        {"1.50", '+', "1", "2.50"},
        {"-1.5", '+', "1.5", "0.0"},
        {"1", '-', "2.5", "-1.5"},
        // A zero operand hands back the other operand, scale included.
        {"0.00", '+', "1", "1"},
        {"0", '-', "1.50", "-1.50"},
        {"1.5", '+', "0.000", "1.5"},
        {kMax, '+', "1", "overflow"},
        {"-79228162514264337593543950335", '-', "1", "overflow"},
        // Too wide at the aligned scale: fewer places, half to even on the exact sum.
        {kMax, '+', "0.4", kMax},
        {"79228162514264337593543950334", '+', "0.5", "79228162514264337593543950334"},
        {"79228162514264337593543950334", '+', "0.6", kMax},
        {kMax, '+', "0.5", "overflow"},
        // ...33.55 rounds to 2^96 at one place, so it goes to zero places: ...34.
        {"7922816251426433759354395033.5", '+', "0.05", "7922816251426433759354395034"},
        {"1500", '*', "0.001", "1.500"},
        {"-1.5", '*', "-2", "3.0"},
        {"0.00", '*', "5", "0"},
        // Scales above 28 round half to even at 28.
        {"0.000000000000005", '*', "0.00000000000001", "0.0000000000000000000000000000"},
        {"0.000000000000015", '*', "0.00000000000001", "0.0000000000000000000000000002"},
        {"0.000000000000000000000001", '*', "0.000000000000000000000001", "0"},
        {"1.0000000000000000000000000001", '*', "1.0000000000000000000000000001",
         "1.0000000000000000000000000002"},
        {"39614081257132168796771975168", '*', "2", "overflow"},
        {"7922816251426433759354395033.5", '*', "10", kMax},
        {kMax, '*', kMax, "overflow"},
        {"1", '/', "3", "0.3333333333333333333333333333"},
        {"-2", '/', "3", "-0.6666666666666666666666666667"},
        {"10", '/', "3", "3.3333333333333333333333333333"},
        {"1", '/', "0.3", "3.3333333333333333333333333333"},
        {"7200", '/', "60", "120"},
        {"1.500", '/', "1", "1.500"},
        {"0.45359237", '/', "0.001", "453.59237"},
        {"1", '/', "8", "0.125"},
        {"12.88", '/', "5.6", "2.3"},
        {"100", '/', "0.5", "200"},
        {"1023427554493", '/', "43432632", "23563.562864276795382789603909"},
        {"0.0000000000000000000000000001", '/', "10", "0"},
        {"0.0000000000000000000000000015", '/', "10", "0.0000000000000000000000000002"},
        {"0.00", '/', "5", "0"},
        {"5", '/', "0", "division by zero"},
        {"0", '/', "0.00", "division by zero"},
        {kMax, '/', "10", "7922816251426433759354395033.5"},
        {kMax, '/', "0.1", "overflow"},
        // 10a/9 = 2^96 - 4/9 rounds up to 2^96 with no place left to drop.
        {"71305346262837903834189555302", '/', "0.9", "overflow"},
        {"71305346262837903834189555301", '/', "0.9", "79228162514264337593543950334"},
        // ...33.5555 would round to 2^96 at one place, so zero places: ...34.
        {"7130534626283790383418955530.2", '/', "0.9", "7922816251426433759354395034"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(apply(c.a, c.op, c.b), c.expected) << c.a << ' ' << c.op << ' ' << c.b;
    }
}

TEST(DecimalArithmetic, UnitConversionChains) {
    // 1 lb in g: (1 x 0.45359237) / 0.001; 1500 g in kg; 2 h in min.
    EXPECT_EQ(dec("1").checked_mul(dec("0.45359237"))->checked_div(dec("0.001"))->to_string(),
              "453.59237");
    EXPECT_EQ(*dec("1500").checked_mul(dec("0.001"))->checked_div(dec("1")), dec("1.5"));
    EXPECT_EQ(dec("2").checked_mul(dec("3600"))->checked_div(dec("60"))->to_string(), "120");
}

TEST(DecimalCompare, OrdersNumerically) {
    const struct {
        const char* a;
        const char* b;
        int order; // sign of a - b
    } cases[] = {{"1.50", "1.5", 0},
                 {"0.00", "-0", 0},
                 {"-0.1", "0", -1},
                 {"2", "1.999", 1},
                 {"-2", "-1.999", -1},
                 {"-1", "1", -1},
                 {"0.0000000000000000000000000001", "0", 1},
                 {kMax, "7.9228162514264337593543950335", 1},
                 {"120", "120.0000000000000000000000000", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(dec(c.a) <=> dec(c.b), c.order <=> 0) << c.a << " vs " << c.b;
        EXPECT_EQ(dec(c.b) <=> dec(c.a), 0 <=> c.order) << c.b << " vs " << c.a;
        EXPECT_EQ(dec(c.a) == dec(c.b), c.order == 0);
    }
}

TEST(DecimalFloat, FromF64KeepsTheDigitsADoubleCarries) {
    const struct {
        double value;
        const char* printed; // nullptr: refused
    } cases[] = {{0.001, "0.001"},
                 {0.45359237, "0.45359237"},
                 {60.0, "60"},
                 {1.0 / 3, "0.3333333333333333"},
                 {10.5, "10.5"},
                 {0.1 + 0.2, "0.3"},
                 {-0.0, "0"},
                 {-2.5, "-2.5"},
                 {1e-9, "0.000000001"},
                 {1e20, "100000000000000000000"},
                 {123456789.123456789, "123456789.1234568"},
                 {39614081257132168796771975168.0, "39614081257132168796771975168"},
                 {1e-30, "0"},
                 {5e-324, "0"},
                 // Below 10^-28 the value is rounded once, half up, to 28 places.
                 {9e-29, "0.0000000000000000000000000001"},
                 {-9e-29, "-0.0000000000000000000000000001"},
                 {6e-29, "0.0000000000000000000000000001"},
                 {4.45e-29, "0"},
                 {-4.45e-29, "0"},
                 {4.9e-29, "0"},
                 {1.5e-28, "0.0000000000000000000000000002"},
                 {1.44e-28, "0.0000000000000000000000000001"},
                 {79228162514264337593543950336.0, nullptr},
                 {-1e300, nullptr},
                 {std::numeric_limits<double>::quiet_NaN(), nullptr},
                 {-std::numeric_limits<double>::infinity(), nullptr}};
    for (const auto& c : cases) {
        auto converted = Decimal::from_f64(c.value);
        EXPECT_EQ(converted ? converted->to_string() : "refused", c.printed ? c.printed : "refused")
            << c.value;
    }
}

TEST(DecimalFloat, ToF64GivesTheNearestDouble) {
    // Every factor of the default unit table, and a few more.
    const struct {
        const char* text;
        double expected;
    } cases[] = {{"1", 1.0},
                 {"0.001", 0.001},
                 {"0.45359237", 0.45359237},
                 {"0.01", 0.01},
                 {"0.0254", 0.0254},
                 {"60", 60.0},
                 {"3600", 3600.0},
                 {"0.000001", 1e-6},
                 {"0.000000001", 1e-9},
                 {"-2.5", -2.5},
                 {"0.1", 0.1},
                 {"453.59237", 453.59237},
                 {kMax, 79228162514264337593543950335.0}};
    for (const auto& c : cases)
        EXPECT_EQ(dec(c.text).to_f64(), c.expected) << c.text;
}

} // namespace
} // namespace vok
