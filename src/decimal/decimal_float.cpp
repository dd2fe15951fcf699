// Conversions between Decimal and double.
//
// double -> Decimal takes the double's exact binary value m * 2^e and turns the power of two into
// powers of ten by trading factors of 2 for factors of 5 and 10, keeping the mantissa below 2^96
// (dropping low bits where it must). The result is then cut to about 16 significant digits (the
// double's own precision) and stripped of trailing zeros, so 0.1 becomes 0.1 and not the 55-digit
// binary fraction. Decimal -> double adds the separately converted integral and fractional parts
// and re-rounds at the decimal's scale, which gives the nearest double for short decimals. Both
// follow the reference 96-bit decimal library step for step so that printed factors agree.
#include <cmath>
#include <cstring>

#include "decimal/decimal.h"

namespace vok {

namespace {

using u128 = unsigned __int128;
constexpr u128 kMantissaLimit = static_cast<u128>(1) << 96;

// 10.0^exponent by repeated squaring, the way the reference library's integer power of a double
// is evaluated (exact up to 10^22, identically rounded beyond).
double power_of_ten(uint32_t exponent) {
    double base = 10.0;
    double result = 1.0;
    while (true) {
        if (exponent & 1) result *= base;
        exponent /= 2;
        if (exponent == 0) break;
        base *= base;
    }
    return result;
}

} // namespace

std::optional<Decimal> Decimal::from_f64(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased_exponent == 0 && fraction == 0) return Decimal();

    // value = m * 2^e, then m * 10^t * 5^(-e) with t starting at e.
    u128 m = fraction;
    int e = -1074; // subnormal
    if (biased_exponent != 0) {
        m |= uint64_t{1} << 52;
        e = biased_exponent - 1075;
    }
    int t = e;
    if (e < 0) {
        // Absorb 5^(-e): halve an even mantissa (one more power of ten), multiply an odd one by 5
        // while that fits, else drop its lowest bit.
        for (int step = 0; step < -e; ++step) {
            if ((m & 1) == 0) {
                m >>= 1;
                ++t;
            } else if (m * 5 < kMantissaLimit) {
                m *= 5;
            } else {
                m >>= 1;
                ++t;
            }
        }
    } else {
        // Absorb 5^(-e) with e > 0, i.e. 2^e: double while there is room (one power of ten less),
        // else divide by 5, failing when the remaining powers of ten could not be brought down.
        for (int remaining = e; remaining > 0; --remaining) {
            if (m < (static_cast<u128>(1) << 95)) {
                m <<= 1;
                --t;
            } else if (2 * t > remaining) {
                return std::nullopt;
            } else {
                m /= 5;
            }
        }
    }
    while (t > 0) {
        m *= 10;
        if (m >= kMantissaLimit) return std::nullopt;
        --t;
    }
    if (t < -static_cast<int>(kMaxScale)) {
        // Below the smallest scale: round once, half up, to kMaxScale places. Rounding digit by
        // digit would round twice (4.45e-29 up to 5e-29, then up again to 1e-28); dropping a digit
        // that leaves nothing would lose 9e-29 altogether.
        const int dropped = -static_cast<int>(kMaxScale) - t;
        t = -static_cast<int>(kMaxScale);
        if (dropped >= 30) {
            m = 0; // m < 2^96 < 10^29 / 2: less than half of the last place kept
        } else {
            u128 divisor = 1;
            for (int i = 0; i < dropped; ++i)
                divisor *= 10;
            const u128 remainder = m % divisor;
            m /= divisor;
            if (remainder * 2 >= divisor) ++m;
        }
        if (m == 0) t = 0;
    }
    // Keep no more digits than a double carries: below 2^52 means at most 16 significant digits.
    while (t < 0 && m >= (static_cast<u128>(1) << 52)) {
        unsigned remainder = static_cast<unsigned>(m % 10);
        m /= 10;
        ++t;
        if (remainder >= 5) ++m;
    }
    while (t < 0 && m % 10 == 0) {
        m /= 10;
        ++t;
    }
    return Decimal(m, static_cast<uint32_t>(-t), negative);
}

double Decimal::to_f64() const {
    const u128 m = mantissa();
    double magnitude;
    if (scale_ == 0) {
        magnitude = static_cast<double>(m);
    } else {
        u128 precision = 1;
        for (uint32_t i = 0; i < scale_; ++i)
            precision *= 10;
        const u128 integral = m / precision;
        const u128 fractional = m % precision;
        magnitude = static_cast<double>(integral);
        if (fractional != 0) {
            double value =
                magnitude + static_cast<double>(fractional) / static_cast<double>(precision);
            double round_to = power_of_ten(scale_);
            magnitude = std::round(value * round_to) / round_to;
        }
    }
    return negative_ ? -magnitude : magnitude;
}

} // namespace vok
