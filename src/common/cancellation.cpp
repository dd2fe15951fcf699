// The thread-local check behind poll_cancellation.
#include "common/cancellation.h"

namespace vok {

namespace {

thread_local CancellationCheck installed_check = nullptr;
thread_local void* installed_context = nullptr;
// Deferrals alive on this thread, and whether a consultation fell due under them.
constinit thread_local uint32_t deferrals = 0;
constinit thread_local bool consultation_deferred = false;

} // namespace

namespace detail {

constinit thread_local uint32_t cancellation_countdown = kCancellationPollInterval;

void consult_cancellation_check() {
    cancellation_countdown = kCancellationPollInterval;
    if (deferrals > 0) {
        consultation_deferred = true;
        return;
    }
    if (installed_check != nullptr && installed_check(installed_context))
        throw OperationCancelled();
}

} // namespace detail

void poll_cancellation_now() {
    detail::consult_cancellation_check();
}

void disarm_cancellation() noexcept {
    installed_check = nullptr;
    installed_context = nullptr;
}

CancellationDeferral::CancellationDeferral() noexcept {
    ++deferrals;
}

CancellationDeferral::~CancellationDeferral() {
    if (--deferrals == 0 && consultation_deferred) {
        consultation_deferred = false;
        detail::cancellation_countdown = 1; // the next poll asks
    }
}

CancellationScope::CancellationScope(CancellationCheck check, void* context) noexcept
    : previous_check_(installed_check), previous_context_(installed_context) {
    installed_check = check;
    installed_context = context;
}

CancellationScope::~CancellationScope() {
    installed_check = previous_check_;
    installed_context = previous_context_;
}

} // namespace vok
