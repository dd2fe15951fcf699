// Stack room for deep recursion.
//
// Expression trees have no depth bound of their own: a policy over 100,000 flows expands into a
// chain 100,000 levels deep, and trees built from Python can be as deep as the caller likes. Every
// recursive walk over such trees (copy, comparison, printing, evaluation) calls its children
// through `with_stack_room`: while the current stack has room the call is a plain call; when it
// runs low, the call continues on a fresh stack segment taken from the heap and returns to the
// original stack afterwards. Recursion is then bounded by memory, not by the thread's stack.
//
// Code of the caller's that a call runs (Python's __index__ or a signal handler, reached at any
// depth of such a walk) goes through `with_callers_room` instead: it starts with about the room
// the call itself had when it began (an `OutsideCall` records it), so that what runs at the call
// site runs inside the call too; where less is left, it continues on a segment large enough.
//
// Exceptions thrown inside a segment are carried back and rethrown on the original stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace vok {

namespace deep_recursion_detail {

constexpr size_t kKeptSegments = 4;

// Where a call from outside began: its frame, the segments the thread had entered then, and the
// room the thread's limits gave it (zero outside any call).
struct CallStart {
    uintptr_t frame = 0;
    int segments = 0;
    size_t room = 0;
};

// A thread's part in the guards. It lives in the thread's ThreadState (thread_preparation.h), so
// that a call from outside reaches it through the one address the call has, and is trivially
// destructible on purpose: it stays usable until the thread's very end (a thread_local destructor
// that runs late may still recurse deeply).
struct StackState {
    // The lowest address the current stack (or segment) may grow to, a margin above its end.
    char* limit = nullptr;
    // The same for the thread's own stack, as its limits said when they were last read.
    char* system_limit = nullptr;
    // `limit` is to be worked out afresh at the next guard, or holds only until a guard comes
    // near it (see call_started and deep_recursion.cpp).
    bool limit_stale = false;
    bool limit_provisional = false;
    bool on_main_thread = false;
    // Whether the destructor that unmaps the kept segments at the thread's end is registered.
    bool reaper_armed = false;
    // Segments this thread is running on now (nested runs count each).
    int segments_entered = 0;
    // Where the innermost call from outside began.
    CallStart call_start{};
    // Segments kept for reuse; once the thread is ending (closed), segments given back are
    // unmapped at once.
    void* kept_segments[kKeptSegments] = {};
    size_t kept_count = 0;
    bool closed = false;
};

// Bytes left on the current stack (or segment) below the caller's frame.
size_t remaining();
// Runs `body(arg)` on a new stack segment that leaves it at least `room` bytes as remaining()
// counts them (a segment is never smaller than the usual 16 MiB); rethrows what it threw.
void run_on_new_segment(void (*body)(void*), void* arg, size_t room = 0);
// The same where the calling thread's state is at hand.
void run_on_new_segment(StackState& thread, void (*body)(void*), void* arg, size_t room);
// Makes the lookup of the thread stack's bounds fail (as it does where /proc is not mounted) and
// forgets the calling thread's bound, so that the next call estimates it afresh.
void fail_stack_lookup_for_testing(bool fail);
// The start of a call from outside the core: the limits that bound this thread's stack may have
// changed since the last (a program may lower RLIMIT_STACK or cap its memory between calls), and
// are read again when the call reaches beyond the stack mapped already. Nothing is read here, so
// calls that never recurse deeply pay nothing more. The room the call has: remaining().
size_t call_started() noexcept;
// On the main thread, while memory is not capped: makes the stack's mapping reach well below the
// calling frame (its pages are handed back at once), so that after a cap (setrlimit, ulimit -v)
// the guards still count that much room there: under a cap the kernel may refuse to extend the
// mapping, and only the stack already mapped is counted. Called when the module is loaded, on the
// caller's own stack (on a segment it does nothing).
void map_main_stack_ahead() noexcept;
// Stack segments mapped at this moment by all threads together (in use or kept for reuse); each
// thread's kept segments are unmapped when it ends.
size_t mapped_segments();

constexpr size_t kRedZone = 128 * 1024;

// The room the innermost call from outside had when it began, as far as the thread's limits go
// (zero outside any call).
size_t callers_room() noexcept;
// Whether caller's code may run where it is: on the stack the call began on, while the call has
// used no more of it than kCallerAllowance; on another stack (a segment), while as much room is
// left there. The allowance covers the module's own frames up to where the work that is not
// deep runs caller's code (the polls of a parse or a format find it within 40 KiB, 64 KiB under
// AddressSanitizer), so that such code costs no switch of stacks.
bool callers_room_left() noexcept;
constexpr size_t kCallerAllowance = 128 * 1024;

// Runs `f` on a new segment of at least `room` bytes and returns its result; `run` is
// run_on_new_segment, with or without the thread's state bound.
template <class F, class Run> std::invoke_result_t<F&> on_new_segment(F& f, size_t room, Run run) {
    using R = std::invoke_result_t<F&>;
    using Fn = std::remove_reference_t<F>;
    static_assert(!std::is_reference_v<R>, "stack guards return values, not references");
    if constexpr (std::is_void_v<R>) {
        run([](void* p) { (*static_cast<Fn*>(p))(); },
            const_cast<void*>(static_cast<const void*>(&f)), room);
    } else {
        struct Call {
            Fn* f;
            std::optional<R> result;
        } call{&f, std::nullopt};
        run(
            [](void* p) {
                auto* c = static_cast<Call*>(p);
                c->result.emplace((*c->f)());
            },
            &call, room);
        return R(std::move(*call.result));
    }
}

template <class F> std::invoke_result_t<F&> on_new_segment(F& f, size_t room) {
    return on_new_segment(f, room, [](void (*body)(void*), void* arg, size_t size) {
        run_on_new_segment(body, arg, size);
    });
}

} // namespace deep_recursion_detail

// A call from outside the core, while it lives: the stack's limits count as call_started() says,
// and code of the caller's that the call runs through with_callers_room starts with the room the
// call had. Calls nest: caller's code may call again, and the outer call's room comes back when
// the inner one ends. A call belongs to the thread that made it.
class OutsideCall {
public:
    OutsideCall() noexcept;
    // The same for a caller that holds the calling thread's state already (a thread_local reached
    // from a loaded module costs a call into the dynamic loader, and a short call would pay that
    // several times over).
    explicit OutsideCall(deep_recursion_detail::StackState& thread) noexcept;
    ~OutsideCall() { thread_->call_start = outer_; }
    OutsideCall(const OutsideCall&) = delete;
    OutsideCall& operator=(const OutsideCall&) = delete;

    // The room the call has, as remaining() counts it (on the main thread, up to the stack mapped
    // already, which is all the guards need to know).
    size_t room() const noexcept { return room_; }

    // Runs `body`, the call's own work: in place while the call has more room than the red zone,
    // else on a segment (a thread with a small stack).
    template <class F> std::invoke_result_t<F&> run(F&& body) const {
        if (room_ > deep_recursion_detail::kRedZone) [[likely]]
            return body();
        deep_recursion_detail::StackState* thread = thread_;
        return deep_recursion_detail::on_new_segment(
            body, 0, [thread](void (*entry)(void*), void* arg, size_t room) {
                deep_recursion_detail::run_on_new_segment(*thread, entry, arg, room);
            });
    }

private:
    deep_recursion_detail::StackState* thread_;
    size_t room_;
    deep_recursion_detail::CallStart outer_;
};

template <class F> std::invoke_result_t<F&> with_stack_room(F&& f) {
    if (deep_recursion_detail::remaining() > deep_recursion_detail::kRedZone) return f();
    return deep_recursion_detail::on_new_segment(f, 0);
}

// Runs `f`, which runs code of the caller's, with the room of the call from outside it belongs
// to: where it is, while the call has used little of that room, else on a segment.
template <class F> std::invoke_result_t<F&> with_callers_room(F&& f) {
    if (deep_recursion_detail::callers_room_left()) return f();
    return deep_recursion_detail::on_new_segment(f, deep_recursion_detail::callers_room());
}

} // namespace vok
