// The thread-local check behind poll_cancellation.
#include "common/cancellation.h"

#include "common/thread_preparation.h"

namespace vok {

namespace detail {

constinit thread_local uint32_t cancellation_countdown = kCancellationPollInterval;

namespace {

CancellationState& this_thread() {
    return thread_state.cancellation;
}

} // namespace

void consult_cancellation_check() {
    cancellation_countdown = kCancellationPollInterval;
    CancellationState& thread = this_thread();
    if (thread.deferrals > 0) {
        thread.consultation_deferred = true;
        return;
    }
    if (thread.check != nullptr && thread.check(thread.context)) throw OperationCancelled();
}

} // namespace detail

void poll_cancellation_now() {
    detail::consult_cancellation_check();
}

void disarm_cancellation() noexcept {
    detail::CancellationState& thread = detail::this_thread();
    thread.check = nullptr;
    thread.context = nullptr;
}

CancellationDeferral::CancellationDeferral() noexcept {
    ++detail::this_thread().deferrals;
}

CancellationDeferral::~CancellationDeferral() {
    detail::CancellationState& thread = detail::this_thread();
    if (--thread.deferrals == 0 && thread.consultation_deferred) {
        thread.consultation_deferred = false;
        detail::cancellation_countdown = 1; // the next poll asks
    }
}

CancellationScope::CancellationScope(CancellationCheck check, void* context) noexcept
    : CancellationScope(detail::this_thread(), check, context) {}

} // namespace vok
