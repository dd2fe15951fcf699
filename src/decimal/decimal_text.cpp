// Decimal text: the parser for plain decimal notation and the printer.
//
// The parser reads one byte at a time, so the first fault in the text decides the message (an
// integer part that overflows is reported before a bad character after it). Fractional digits
// that no longer fit are not an error: they are read on (and still checked) only to decide the
// rounding of the last digit kept.
#include "decimal/decimal.h"

namespace vok {

namespace {

using u128 = unsigned __int128;
constexpr u128 kMantissaLimit = static_cast<u128>(1) << 96;

} // namespace

namespace {

struct MessageWriter {
    std::string operator()(DecimalParseError::Empty) const { return "Invalid decimal: empty"; }
    std::string operator()(DecimalParseError::NoDigits) const {
        return "Invalid decimal: no digits found";
    }
    std::string operator()(DecimalParseError::LeadingSeparator) const {
        return "Invalid decimal: must start lead with a number";
    }
    std::string operator()(DecimalParseError::UnknownCharacter) const {
        return "Invalid decimal: unknown character";
    }
    std::string operator()(DecimalParseError::TwoDecimalPoints) const {
        return "Invalid decimal: two decimal points";
    }
    std::string operator()(DecimalParseError::TooManyDigits) const {
        return "Invalid decimal: overflow from too many digits";
    }
};

} // namespace

std::string DecimalParseError::to_string() const {
    return visit(MessageWriter{});
}

Result<Decimal, DecimalParseError> Decimal::parse(std::string_view text) {
    auto fail = [](DecimalParseError error) { return Err(std::move(error)); };
    if (text.empty()) return fail(DecimalParseError::Empty{});

    size_t position = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        position = 1;
    }

    u128 mantissa = 0;
    uint32_t scale = 0;
    bool seen_point = false;
    bool seen_digit = false;
    // Once the mantissa is full, the first digit that did not fit and whether any later one is
    // non-zero decide the rounding.
    bool mantissa_full = false;
    int first_dropped = 0;
    bool later_dropped_nonzero = false;

    for (; position < text.size(); ++position) {
        char c = text[position];
        if (c >= '0' && c <= '9') {
            int digit = c - '0';
            seen_digit = true;
            if (!seen_point) {
                mantissa = mantissa * 10 + digit;
                if (mantissa >= kMantissaLimit) return fail(DecimalParseError::TooManyDigits{});
            } else if (mantissa_full) {
                later_dropped_nonzero = later_dropped_nonzero || digit != 0;
            } else if (scale < kMaxScale && mantissa * 10 + digit < kMantissaLimit) {
                mantissa = mantissa * 10 + digit;
                ++scale;
            } else {
                mantissa_full = true;
                first_dropped = digit;
            }
        } else if (c == '.') {
            if (seen_point) return fail(DecimalParseError::TwoDecimalPoints{});
            seen_point = true;
        } else if (c == '_') {
            if (!seen_digit) return fail(DecimalParseError::LeadingSeparator{});
        } else {
            return fail(DecimalParseError::UnknownCharacter{});
        }
    }
    if (!seen_digit) return fail(DecimalParseError::NoDigits{});

    if (mantissa_full && (first_dropped > 5 ||
                          (first_dropped == 5 && (later_dropped_nonzero || (mantissa & 1) != 0)))) {
        ++mantissa;
        if (mantissa == kMantissaLimit) {
            // Rounded up out of range: one digit less, the value (at least ...33.55 there) rounds
            // up to 7922816251426433759354395034.
            if (scale == 0) return fail(DecimalParseError::TooManyDigits{});
            mantissa = kMantissaLimit / 10 + 1;
            --scale;
        }
    }
    return Decimal(mantissa, scale, negative);
}

std::string Decimal::to_string() const {
    // Digits least significant first, padded with zeros so that there is one per fractional place.
    char digits[40];
    size_t count = 0;
    for (u128 m = mantissa(); m != 0; m /= 10)
        digits[count++] = static_cast<char>('0' + m % 10);
    while (count < scale_)
        digits[count++] = '0';

    std::string text;
    text.reserve(count + 3);
    if (negative_) text.push_back('-');
    if (count == scale_) {
        text.push_back('0');
    } else {
        for (size_t i = count; i > scale_; --i)
            text.push_back(digits[i - 1]);
    }
    if (scale_ > 0) {
        text.push_back('.');
        for (size_t i = scale_; i > 0; --i)
            text.push_back(digits[i - 1]);
    }
    return text;
}

} // namespace vok
