// Decimal: an exact decimal number for quantities and unit factors.
//
// A value is a sign, a 96-bit unsigned mantissa and a scale of 0 to 28 fractional digits:
// (-1)^sign * mantissa / 10^scale. The scale is part of the value's text, not of its identity:
// "12.50" parses with scale 2 and prints back as 12.50, yet compares equal to 12.5. The rules for
// text, arithmetic, rounding and float conversion are those of the widely used 96-bit decimal
// libraries (the rust_decimal family), so that results and their printed scales agree digit for
// digit with systems built on them.
//
// Arithmetic is exact whenever the exact result fits; otherwise fractional digits are dropped,
// rounding half to even, and an operation fails only when not even the integer part fits.
//
// Zero never carries a sign: "-0", -0.0 and every operation that yields zero give +0 (a "0" form
// without "-"). The object is a 16-byte value type.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "common/error_variant.h"
#include "common/result.h"

namespace vok {

// Why an arithmetic operation has no result.
struct DecimalArithmeticErrorAlternatives {
    // Rows in arithmetic_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_DECIMAL_ARITHMETIC_ERROR_KIND(Name) Name,
#include "decimal/arithmetic_error_kind.def"
    };
    struct Overflow {
        bool operator==(const Overflow&) const = default;
    };
    struct DivisionByZero {
        bool operator==(const DivisionByZero&) const = default;
    };
    using Variant = VariantOfRows<void
#define VOK_DECIMAL_ARITHMETIC_ERROR_KIND(Name) , Name
#include "decimal/arithmetic_error_kind.def"
                                  >::type;
};

struct DecimalArithmeticError : ErrorVariant<DecimalArithmeticErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // "overflow" or "division by zero".
    std::string to_string() const;
};

// The arithmetic operation that failed, for the failure texts below.
enum class DecimalOperation { Add, Subtract, Multiply, Divide };

// What went wrong in a decimal text.
struct DecimalParseErrorAlternatives {
    // Rows in parse_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_DECIMAL_PARSE_ERROR_KIND(Name) Name,
#include "decimal/parse_error_kind.def"
    };
    struct Empty {};            // no characters at all
    struct NoDigits {};         // only a sign and/or a point
    struct LeadingSeparator {}; // "_" before the first digit
    struct UnknownCharacter {}; // anything but digits, one ".", "_" and a leading sign
    struct TwoDecimalPoints {};
    struct TooManyDigits {}; // the integer part does not fit 96 bits
    using Variant = VariantOfRows<void
#define VOK_DECIMAL_PARSE_ERROR_KIND(Name) , Name
#include "decimal/parse_error_kind.def"
                                  >::type;
};

struct DecimalParseError : ErrorVariant<DecimalParseErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The parser's message, e.g. "Invalid decimal: unknown character".
    std::string to_string() const;
};

// The text with which an operation that must not fail reports its failure as a broken invariant:
// "Addition overflowed", "Subtraction overflowed", "Multiplication overflowed",
// "Division overflowed", or "Division by zero" for any operation that divided by zero.
std::string_view arithmetic_failure_text(DecimalOperation operation, DecimalArithmeticError error);

class Decimal {
public:
    static constexpr uint32_t kMaxScale = 28;

    // Zero with scale 0.
    Decimal() = default;

    // Nothing when the mantissa is 2^96 or more or the scale above 28.
    static std::optional<Decimal> from_parts(unsigned __int128 mantissa, uint32_t scale,
                                             bool negative);
    static Decimal from_i64(int64_t value);
    static Decimal from_u64(uint64_t value);

    // Plain decimal notation: an optional leading "+" or "-", ASCII digits with at most one ".",
    // and "_" anywhere after the first digit (ignored). The scale is the number of fractional
    // digits written; digits beyond what fits (28 fractional digits, 96 bits) are rounded off half
    // to even. No exponent.
    static Result<Decimal, DecimalParseError> parse(std::string_view text);

    // The exact binary value of the double, trimmed to the digits a double guarantees (about 16
    // significant digits) and stripped of trailing zeros: 0.1 gives 0.1, 60.0 gives 60, 1.0/3
    // gives 0.3333333333333333. Nothing for NaN, infinities and magnitudes of 2^96 and above.
    static std::optional<Decimal> from_f64(double value);

    // The nearest double for values with few digits (every factor of the default unit table);
    // computed as integral part + fraction, then re-rounded at the decimal's own scale.
    double to_f64() const;

    // Plain notation with the scale kept: "12.50", "-0.001", "60", "0.000"; never an exponent.
    std::string to_string() const;

    unsigned __int128 mantissa() const { return (static_cast<unsigned __int128>(hi_) << 64) | lo_; }
    uint32_t scale() const { return scale_; }
    bool is_negative() const { return negative_; }
    bool is_zero() const { return lo_ == 0 && hi_ == 0; }

    // Add and subtract work at the larger of the two scales; a zero operand returns the other
    // operand unchanged (its scale included). Multiply adds the scales; a zero operand gives zero
    // with scale 0. Divide gives the quotient at the smallest scale (at least the difference of
    // the scales) at which it is exact, else rounded at the largest scale that fits, with trailing
    // zeros stripped: 1/3 = 0.3333333333333333333333333333, 7200/60 = 120, 1.500/1 = 1.500.
    Result<Decimal, DecimalArithmeticError> checked_add(const Decimal& other) const;
    Result<Decimal, DecimalArithmeticError> checked_sub(const Decimal& other) const;
    Result<Decimal, DecimalArithmeticError> checked_mul(const Decimal& other) const;
    Result<Decimal, DecimalArithmeticError> checked_div(const Decimal& other) const;

    // Numeric order: 1.50 == 1.5, -0.1 < 0.
    std::strong_ordering compare(const Decimal& other) const;
    friend bool operator==(const Decimal& a, const Decimal& b) {
        return a.compare(b) == std::strong_ordering::equal;
    }
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
        return a.compare(b);
    }

    Decimal negated() const;
    Decimal abs() const;
    // The same value with trailing fractional zeros removed (12.500 -> 12.5, 0.00 -> 0).
    Decimal normalized() const;
    // At most `decimal_places` fractional digits, rounding half to even; a value that already has
    // no more digits is returned unchanged (its scale is not raised).
    Decimal round_dp(uint32_t decimal_places) const;

private:
    // The caller guarantees mantissa < 2^96 and scale <= kMaxScale; a zero mantissa drops the sign.
    Decimal(unsigned __int128 mantissa, uint32_t scale, bool negative);

    Result<Decimal, DecimalArithmeticError> add_signed(const Decimal& other,
                                                       bool negate_other) const;

    uint64_t lo_ = 0; // mantissa bits 0..63
    uint32_t hi_ = 0; // mantissa bits 64..95
    uint8_t scale_ = 0;
    bool negative_ = false;
};

} // namespace vok
