// Clock: where an evaluation reads the current time.
//
// An evaluation reads the clock at fixed points (once for the caller facts and staleness, once per
// derived fact, once per evaluated policy, once for the trace), so its outcome depends on time.
// Evaluation takes the clock as an argument: production code passes `system_clock()`, tests pass
// a clock of their own that returns chosen instants and can count the readings.
#pragma once

#include "time/rfc3339.h"

namespace vok::authority {

class Clock {
public:
    virtual ~Clock() = default;
    // One reading; a clock may change its answer between readings.
    virtual UtcInstant now() = 0;
};

// The real-time clock, in UTC. The instance lives for the whole process and has no state.
Clock& system_clock();

} // namespace vok::authority
