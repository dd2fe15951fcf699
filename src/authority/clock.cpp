#include "authority/clock.h"

namespace vok::authority {

namespace {

class SystemClock final : public Clock {
public:
    UtcInstant now() override { return now_utc(); }
};

} // namespace

Clock& system_clock() {
    static SystemClock clock;
    return clock;
}

} // namespace vok::authority
