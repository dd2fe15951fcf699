// TimeSpan: a signed span of whole seconds, for a metric's refresh interval and window.
//
// Durations in the language are whole numbers of a unit word (5 minutes, 2 hours), so seconds are
// the finest grain needed; there is no sub-second part.
#pragma once

#include <cstdint>

namespace vok {

struct TimeSpan {
    int64_t seconds = 0;
    friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};

} // namespace vok
