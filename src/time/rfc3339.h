// UTC instants and their RFC 3339 text.
//
// An instant is whole seconds since 1970-01-01T00:00:00 UTC plus nanoseconds (0..999,999,999), on
// the proleptic Gregorian calendar with no leap seconds, for every 64-bit second count. Texts are
// parsed strictly (the rules and messages of the Rust chrono library's RFC 3339 parser, which
// users see verbatim) and written in the one canonical form that timestamps of this system use:
// "+00:00" as the offset and only as many fractional digits as the nanoseconds need.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vok {

struct UtcInstant {
    int64_t seconds = 0; // since the Unix epoch, negative before it
    uint32_t nanos = 0;  // 0..999,999,999
    auto operator<=>(const UtcInstant&) const = default;
};

// Why a text is not an RFC 3339 date-time.
enum class Rfc3339Error {
    OutOfRange, // a field beyond its range, or a date that does not exist (Feb 30)
    Impossible, // contradictory fields
    NotEnough,  // fields missing for a unique instant
    Invalid,    // an unexpected character
    TooShort,   // the text ends early
    TooLong,    // text follows the offset
    BadFormat,  // an unsupported format
};

// The parser's message, e.g. "premature end of input".
std::string_view rfc3339_error_text(Rfc3339Error error);

// "YYYY-MM-DD" then "T", "t" or " ", then "HH:MM:SS", an optional "." with one or more digits
// (nanoseconds from the first nine; the rest are read and ignored), then "Z", "z" or a numeric
// offset "+HH:MM" / "-HH:MM" (also U+2212 MINUS SIGN) of at most 23:59; nothing may follow. A leap
// second (second 60, accepted in any minute) is read as second 0 of the next minute, fraction
// kept, since instants have no leap seconds. The result is the instant in UTC; the error is the
// parser's message (rfc3339_error_text).
Result<UtcInstant, std::string> parse_rfc3339(std::string_view text);

// "YYYY-MM-DDTHH:MM:SS[.fff|.ffffff|.fffffffff]+00:00". Years 0..9999 as four digits, other years
// with a sign and at least four digits ("+10000", "-0001"). The fraction appears only when nanos
// is non-zero, with 3 digits for whole milliseconds, 6 for whole microseconds, else 9. Nanos of a
// full second or more are a broken invariant.
std::string format_rfc3339(UtcInstant instant);

// The real-time clock.
UtcInstant now_utc();

} // namespace vok
