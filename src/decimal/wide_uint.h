// WideUint: the 256-bit unsigned integer that decimal arithmetic computes exact results in.
//
// The widest exact intermediate is a product of two 96-bit mantissas (192 bits) or a mantissa
// aligned by 10^28 (190 bits), so four 64-bit limbs always suffice and no operation here needs to
// report overflow. Only the few operations the arithmetic uses are provided, all by small factors
// and divisors so that every step is one 128-bit machine operation per limb.
#pragma once

#include <cstdint>

namespace vok::decimal_detail {

using u128 = unsigned __int128;

class WideUint {
public:
    WideUint() = default;
    explicit WideUint(u128 value)
        : limbs_{static_cast<uint64_t>(value), static_cast<uint64_t>(value >> 64), 0, 0} {}

    // a * b for a, b below 2^128 (the result fits 256 bits).
    static WideUint product(u128 a, u128 b) {
        WideUint result;
        const uint64_t x[2] = {static_cast<uint64_t>(a), static_cast<uint64_t>(a >> 64)};
        const uint64_t y[2] = {static_cast<uint64_t>(b), static_cast<uint64_t>(b >> 64)};
        for (int i = 0; i < 2; ++i) {
            uint64_t carry = 0;
            for (int j = 0; j < 2; ++j) {
                u128 t = static_cast<u128>(x[i]) * y[j] + result.limbs_[i + j] + carry;
                result.limbs_[i + j] = static_cast<uint64_t>(t);
                carry = static_cast<uint64_t>(t >> 64);
            }
            result.limbs_[i + 2] = carry;
        }
        return result;
    }

    void multiply_small(uint64_t factor) {
        uint64_t carry = 0;
        for (uint64_t& limb : limbs_) {
            u128 t = static_cast<u128>(limb) * factor + carry;
            limb = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
    }

    // Multiplies by 10^exponent, in steps of at most 10^19 (the largest power below 2^64).
    void multiply_pow10(uint32_t exponent) {
        constexpr uint64_t kTen19 = 10'000'000'000'000'000'000ull;
        while (exponent >= 19) {
            multiply_small(kTen19);
            exponent -= 19;
        }
        uint64_t factor = 1;
        while (exponent-- > 0)
            factor *= 10;
        if (factor != 1) multiply_small(factor);
    }

    // Divides in place and returns the remainder.
    uint64_t divide_small(uint64_t divisor) {
        uint64_t remainder = 0;
        for (int i = 3; i >= 0; --i) {
            u128 t = (static_cast<u128>(remainder) << 64) | limbs_[i];
            limbs_[i] = static_cast<uint64_t>(t / divisor);
            remainder = static_cast<uint64_t>(t % divisor);
        }
        return remainder;
    }

    void add(const WideUint& other) {
        uint64_t carry = 0;
        for (int i = 0; i < 4; ++i) {
            u128 t = static_cast<u128>(limbs_[i]) + other.limbs_[i] + carry;
            limbs_[i] = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
    }

    void add_one() { add(WideUint(1)); }

    // Requires *this >= other.
    void subtract(const WideUint& other) {
        uint64_t borrow = 0;
        for (int i = 0; i < 4; ++i) {
            u128 t = static_cast<u128>(limbs_[i]) - other.limbs_[i] - borrow;
            limbs_[i] = static_cast<uint64_t>(t);
            borrow = static_cast<uint64_t>(t >> 64) != 0 ? 1 : 0;
        }
    }

    // -1, 0 or 1.
    int compare(const WideUint& other) const {
        for (int i = 3; i >= 0; --i) {
            if (limbs_[i] != other.limbs_[i]) return limbs_[i] < other.limbs_[i] ? -1 : 1;
        }
        return 0;
    }

    bool is_odd() const { return (limbs_[0] & 1) != 0; }
    bool below_2_pow_96() const {
        return limbs_[3] == 0 && limbs_[2] == 0 && (limbs_[1] >> 32) == 0;
    }
    // The low 128 bits; callers use it once the value is known to fit.
    u128 low_128() const { return (static_cast<u128>(limbs_[1]) << 64) | limbs_[0]; }

private:
    uint64_t limbs_[4] = {0, 0, 0, 0}; // least significant first
};

} // namespace vok::decimal_detail
