// Bounds and JSON form of the time span of a fact requirement's max_age; see time_delta.h.
#include "authority/time_delta.h"

#include <limits>

namespace vok::authority {

namespace {

// ±(2^63 − 1) milliseconds as seconds and non-negative nanoseconds.
constexpr TimeDelta kMax{9223372036854775, 807000000};
constexpr TimeDelta kMin{-9223372036854776, 193000000};

constexpr std::string_view kExpecting = "a tuple of size 2";

} // namespace

std::optional<TimeDelta> TimeDelta::make(int64_t seconds, int64_t nanos) {
    if (nanos < 0 || nanos > 999'999'999) return std::nullopt;
    TimeDelta span{seconds, static_cast<uint32_t>(nanos)};
    if (span < kMin || span > kMax) return std::nullopt;
    return span;
}

Result<TimeDelta, json::Error> TimeDelta::read(json::Deserializer& de) {
    VOK_TRY(de.begin_seq(kExpecting));
    int64_t seconds = 0;
    int64_t nanos = 0;
    json::Status visited = [&]() -> json::Status {
        VOK_ASSIGN(bool has_seconds, de.next_element());
        if (!has_seconds) return Err(json::invalid_length(0, kExpecting));
        VOK_ASSIGN(seconds, de.read_signed("i64", std::numeric_limits<int64_t>::min(),
                                           std::numeric_limits<int64_t>::max()));
        VOK_ASSIGN(bool has_nanos, de.next_element());
        if (!has_nanos) return Err(json::invalid_length(1, kExpecting));
        VOK_ASSIGN(nanos, json::read_i32(de));
        // A longer array is refused with its whole length.
        size_t length = 2;
        while (true) {
            VOK_ASSIGN(bool more, de.next_element());
            if (!more) break;
            VOK_TRY(de.skip_any());
            ++length;
        }
        if (length != 2) return Err(json::invalid_length(length, kExpecting));
        return Ok();
    }();
    VOK_TRY(de.end(json::Form::Seq, std::move(visited)));
    auto span = make(seconds, nanos);
    if (!span) return Err(de.positioned(json::custom_error("TimeDelta out of bounds")));
    return *span;
}

} // namespace vok::authority
