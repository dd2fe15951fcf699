// TimeDelta: a signed span of time, whole seconds and nanoseconds, as a fact requirement's
// `max_age` states it.
//
// A span lies within ±(2^63 − 1) milliseconds, with the nanoseconds from 0 to 999,999,999 (a
// negative span is negative seconds plus positive nanoseconds). In JSON it is an array of exactly
// two integers, seconds (i64) then nanoseconds (i32); a pair outside the bounds is refused with
// "TimeDelta out of bounds".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>

#include "json/deserializer.h"

namespace vok::authority {

struct TimeDelta {
    int64_t seconds = 0;
    uint32_t nanos = 0; // 0..999,999,999

    // The span of `seconds` and `nanos`, or nothing when they lie outside the bounds.
    static std::optional<TimeDelta> make(int64_t seconds, int64_t nanos);

    static Result<TimeDelta, json::Error> read(json::Deserializer& de);

    auto operator<=>(const TimeDelta&) const = default;
};

} // namespace vok::authority
