// Decimal construction, comparison, rounding and arithmetic.
//
// Every operation computes its exact result in a 256-bit integer at the natural scale and then
// fits it into the 96-bit mantissa: fractional digits are dropped one at a time, rounding half to
// even on the exact value (never a rounded intermediate), until the mantissa fits and the scale is
// at most 28. Division is the exception: its exact result may need infinitely many digits, so it
// is developed digit by digit (remainders stay below the 96-bit divisor and fit 128 bits).
#include "decimal/decimal.h"

#include <algorithm>

#include "decimal/wide_uint.h"

namespace vok {

using decimal_detail::u128;
using decimal_detail::WideUint;

namespace {

constexpr u128 kMantissaLimit = static_cast<u128>(1) << 96;

u128 pow10(uint32_t exponent) {
    u128 result = 1;
    while (exponent-- > 0)
        result *= 10;
    return result;
}

struct Fitted {
    u128 mantissa;
    uint32_t scale;
};

// Rounds the exact `value` * 10^-scale to the largest scale <= 28 at which the mantissa fits 96
// bits. Nothing when even scale 0 does not fit.
std::optional<Fitted> fit_mantissa(WideUint value, uint32_t scale) {
    uint32_t dropped = 0;
    uint64_t last_digit = 0; // the most significant dropped digit
    bool sticky = false;     // any less significant dropped digit was non-zero
    auto drop_digit = [&] {
        sticky = sticky || last_digit != 0;
        last_digit = value.divide_small(10);
        ++dropped;
    };
    while (scale - dropped > Decimal::kMaxScale)
        drop_digit();
    while (true) {
        WideUint candidate = value;
        if (dropped > 0) {
            bool round_up = last_digit > 5 || (last_digit == 5 && (sticky || value.is_odd()));
            if (round_up) candidate.add_one();
        }
        if (candidate.below_2_pow_96()) return Fitted{candidate.low_128(), scale - dropped};
        if (dropped == scale) return std::nullopt;
        drop_digit();
    }
}

} // namespace

std::string DecimalArithmeticError::to_string() const {
    return is<DivisionByZero>() ? "division by zero" : "overflow";
}

std::string_view arithmetic_failure_text(DecimalOperation operation, DecimalArithmeticError error) {
    if (error.is<DecimalArithmeticError::DivisionByZero>()) return "Division by zero";
    switch (operation) {
    case DecimalOperation::Add:
        return "Addition overflowed";
    case DecimalOperation::Subtract:
        return "Subtraction overflowed";
    case DecimalOperation::Multiply:
        return "Multiplication overflowed";
    case DecimalOperation::Divide:
        return "Division overflowed";
    }
    return "Addition overflowed";
}

Decimal::Decimal(u128 mantissa, uint32_t scale, bool negative)
    : lo_(static_cast<uint64_t>(mantissa)), hi_(static_cast<uint32_t>(mantissa >> 64)),
      scale_(static_cast<uint8_t>(scale)), negative_(negative && mantissa != 0) {}

std::optional<Decimal> Decimal::from_parts(u128 mantissa, uint32_t scale, bool negative) {
    if (mantissa >= kMantissaLimit || scale > kMaxScale) return std::nullopt;
    return Decimal(mantissa, scale, negative);
}

Decimal Decimal::from_i64(int64_t value) {
    // Negate in unsigned arithmetic so that INT64_MIN has a magnitude too.
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return Decimal(magnitude, 0, value < 0);
}

Decimal Decimal::from_u64(uint64_t value) {
    return Decimal(value, 0, false);
}

std::strong_ordering Decimal::compare(const Decimal& other) const {
    int sign = is_zero() ? 0 : (negative_ ? -1 : 1);
    int other_sign = other.is_zero() ? 0 : (other.negative_ ? -1 : 1);
    if (sign != other_sign || sign == 0) return sign <=> other_sign;

    uint32_t scale = std::max(scale_, other.scale_);
    WideUint mine(mantissa());
    WideUint theirs(other.mantissa());
    mine.multiply_pow10(scale - scale_);
    theirs.multiply_pow10(scale - other.scale_);
    int magnitude = mine.compare(theirs);
    if (sign < 0) magnitude = -magnitude;
    return magnitude <=> 0;
}

Decimal Decimal::negated() const {
    return Decimal(mantissa(), scale_, !negative_);
}

Decimal Decimal::abs() const {
    return Decimal(mantissa(), scale_, false);
}

Decimal Decimal::normalized() const {
    u128 m = mantissa();
    uint32_t scale = scale_;
    if (m == 0) return Decimal();
    while (scale > 0 && m % 10 == 0) {
        m /= 10;
        --scale;
    }
    return Decimal(m, scale, negative_);
}

Decimal Decimal::round_dp(uint32_t decimal_places) const {
    if (decimal_places >= scale_) return *this;
    u128 divisor = pow10(scale_ - decimal_places);
    u128 quotient = mantissa() / divisor;
    u128 remainder = mantissa() % divisor;
    u128 half = divisor / 2;
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    return Decimal(quotient, decimal_places, negative_);
}

Result<Decimal, DecimalArithmeticError> Decimal::add_signed(const Decimal& other,
                                                            bool negate_other) const {
    if (is_zero()) return negate_other ? other.negated() : other;
    if (other.is_zero()) return *this;

    bool other_negative = other.negative_ != negate_other;
    uint32_t scale = std::max(scale_, other.scale_);
    WideUint mine(mantissa());
    WideUint theirs(other.mantissa());
    mine.multiply_pow10(scale - scale_);
    theirs.multiply_pow10(scale - other.scale_);

    bool negative = negative_;
    if (negative_ == other_negative) {
        mine.add(theirs);
    } else if (mine.compare(theirs) >= 0) {
        mine.subtract(theirs);
    } else {
        theirs.subtract(mine);
        mine = theirs;
        negative = other_negative;
    }
    auto fitted = fit_mantissa(mine, scale);
    if (!fitted) return Err(DecimalArithmeticError(DecimalArithmeticError::Overflow{}));
    return Decimal(fitted->mantissa, fitted->scale, negative);
}

Result<Decimal, DecimalArithmeticError> Decimal::checked_add(const Decimal& other) const {
    return add_signed(other, false);
}

Result<Decimal, DecimalArithmeticError> Decimal::checked_sub(const Decimal& other) const {
    return add_signed(other, true);
}

Result<Decimal, DecimalArithmeticError> Decimal::checked_mul(const Decimal& other) const {
    if (is_zero() || other.is_zero()) return Decimal();
    uint32_t scale = scale_ + other.scale_;
    bool negative = negative_ != other.negative_;
    // Two mantissas below 2^32 with more than 47 fractional digits round to nothing; the
    // reference arithmetic returns a plain 0 for them rather than 0 at scale 28.
    constexpr u128 k32Bits = static_cast<u128>(1) << 32;
    if (mantissa() < k32Bits && other.mantissa() < k32Bits && scale > kMaxScale + 19) {
        return Decimal();
    }
    auto fitted = fit_mantissa(WideUint::product(mantissa(), other.mantissa()), scale);
    if (!fitted) return Err(DecimalArithmeticError(DecimalArithmeticError::Overflow{}));
    return Decimal(fitted->mantissa, fitted->scale, negative);
}

Result<Decimal, DecimalArithmeticError> Decimal::checked_div(const Decimal& other) const {
    if (other.is_zero())
        return Err(DecimalArithmeticError(DecimalArithmeticError::DivisionByZero{}));
    if (is_zero()) return Decimal();
    bool negative = negative_ != other.negative_;
    const u128 divisor = other.mantissa();
    u128 quotient = mantissa() / divisor;
    u128 remainder = mantissa() % divisor;

    // One more decimal digit of the quotient; false (nothing changed) when it would not fit.
    auto next_digit = [&] {
        u128 scaled = remainder * 10; // remainder < divisor < 2^96, quotient < 2^96
        u128 extended = quotient * 10 + scaled / divisor;
        if (extended >= kMantissaLimit) return false;
        quotient = extended;
        remainder = scaled % divisor;
        return true;
    };

    // mantissa / divisor is the quotient at scale (scale_ - other.scale_); a negative scale is
    // brought up to 0 first, and that integer must fit.
    int natural_scale = static_cast<int>(scale_) - static_cast<int>(other.scale_);
    for (int i = natural_scale; i < 0; ++i) {
        if (!next_digit()) return Err(DecimalArithmeticError(DecimalArithmeticError::Overflow{}));
    }
    uint32_t scale = static_cast<uint32_t>(std::max(natural_scale, 0));
    while (remainder != 0 && scale < kMaxScale && next_digit())
        ++scale;
    if (remainder == 0) return Decimal(quotient, scale, negative);

    u128 twice_remainder = remainder * 2;
    if (twice_remainder > divisor || (twice_remainder == divisor && (quotient & 1) != 0)) {
        ++quotient;
        if (quotient == kMantissaLimit) {
            // The exact value lies in [2^96 - 1/2, 2^96) at this scale; one digit less it rounds
            // up from ...33.55 to 7922816251426433759354395034.
            if (scale == 0) return Err(DecimalArithmeticError(DecimalArithmeticError::Overflow{}));
            quotient = kMantissaLimit / 10 + 1;
            --scale;
        }
    }
    // A rounded quotient does not keep trailing zeros.
    while (scale > 0 && quotient % 10 == 0) {
        quotient /= 10;
        --scale;
    }
    return Decimal(quotient, scale, negative);
}

} // namespace vok
