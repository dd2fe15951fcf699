// Cooperative cancellation of long-running core operations.
//
// Work whose length the input decides (parsing and formatting large sources, walking a registry's
// files, evaluating policies over large graphs) calls poll_cancellation() as it goes. The call is
// a countdown on a thread-local counter; every kCancellationPollInterval calls it asks the check
// installed for this thread, if any. When the check asks to stop, poll_cancellation throws
// OperationCancelled. No core code catches it: it unwinds to whoever installed the check (the
// Python call frame, whose check is the interpreter's signal check, so Ctrl-C ends the call with
// KeyboardInterrupt). Core code polls only where unwinding leaves nothing half-changed that the
// caller can see: before a state change, or while building a value that is dropped on the way out.
//
// Without an installed check, polling costs a decrement and never throws, so the core runs the
// same under tests, benchmarks and fuzzers.
//
// The check may run code of the caller's (a Python signal handler), and that code may call the
// module again, on this thread, or let another thread run that does. So the check is never asked
// while a lock that such a call may want is held: a CancellationDeferral covers every such lock
// (see UnitRegistry's accesses), and a consultation that falls due under it is put off to the
// first poll after the lock is released. Work under a lock is kept short instead, in steps
// between which the lock is let go.
#pragma once

#include <cstdint>
#include <exception>

namespace vok {

class OperationCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "operation cancelled"; }
};

// Returns true to stop the running operation. `context` is the pointer given with it.
using CancellationCheck = bool (*)(void* context);

// How many polls pass between two consultations of the check: small enough that a loop doing a
// few microseconds of work per poll still answers within milliseconds.
inline constexpr uint32_t kCancellationPollInterval = 1024;

namespace detail {
// Declared constinit so that a poll reads the counter directly, without the call that checks
// whether a thread_local needs dynamic initialisation first.
extern thread_local constinit uint32_t cancellation_countdown;
void consult_cancellation_check(); // throws OperationCancelled when the check asks to stop

// A thread's part in cancellation, kept in its ThreadState (thread_preparation.h).
struct CancellationState {
    CancellationCheck check = nullptr;
    void* context = nullptr;
    // Deferrals alive on the thread, and whether a consultation fell due under them.
    uint32_t deferrals = 0;
    bool consultation_deferred = false;
};
} // namespace detail

inline void poll_cancellation() {
    if (--detail::cancellation_countdown == 0) [[unlikely]]
        detail::consult_cancellation_check();
}

// Asks the installed check now, whatever the countdown says; for loops whose steps are long.
void poll_cancellation_now();

// Marks the point where the running operation makes a change that outlives it (units registered,
// a trace stored): from here until the innermost scope ends, polls no longer ask the check, so
// that nothing stops the operation after its change, the conversion of its result by the caller
// included.
void disarm_cancellation() noexcept;

// poll_cancellation for a loop that polls very often, such as a reader stepping through the items
// of a large document: the thread's countdown is looked up once, when the poller is made, so each
// poll is a decrement through a pointer even where reaching a thread_local costs a call (code in a
// shared library). A poller belongs to the thread that made it.
class CancellationPoller {
public:
    CancellationPoller() noexcept : countdown_(&detail::cancellation_countdown) {
        // Hidden from the optimiser: knowing the pointer to be the thread_local's address, it
        // computes that address again at each poll of a poller kept in a local variable.
        asm("" : "+r"(countdown_));
    }
    void poll() {
        if (--*countdown_ == 0) [[unlikely]]
            detail::consult_cancellation_check();
    }

private:
    uint32_t* countdown_;
};

// While it lives, polls on this thread do not ask the check; the first poll after the last
// deferral of the thread ends asks it if a consultation fell due in between. Deferrals nest.
class CancellationDeferral {
public:
    CancellationDeferral() noexcept;
    ~CancellationDeferral();
    CancellationDeferral(const CancellationDeferral&) = delete;
    CancellationDeferral& operator=(const CancellationDeferral&) = delete;
};

// Installs `check` for the current thread while the scope lives; the previous check (if any) comes
// back when it ends, so scopes nest. A scope belongs to the thread that made it.
class CancellationScope {
public:
    CancellationScope(CancellationCheck check, void* context) noexcept;
    // The same for a caller that holds the calling thread's state already (see OutsideCall).
    CancellationScope(detail::CancellationState& thread, CancellationCheck check,
                      void* context) noexcept
        : thread_(&thread), previous_check_(thread.check), previous_context_(thread.context) {
        thread.check = check;
        thread.context = context;
    }
    ~CancellationScope() {
        thread_->check = previous_check_;
        thread_->context = previous_context_;
    }
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

private:
    detail::CancellationState* thread_;
    CancellationCheck previous_check_;
    void* previous_context_;
};

} // namespace vok
