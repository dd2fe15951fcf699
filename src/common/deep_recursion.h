// Stack room for deep recursion.
//
// Expression trees have no depth bound of their own: a policy over 100,000 flows expands into a
// chain 100,000 levels deep, and trees built from Python can be as deep as the caller likes. Every
// recursive walk over such trees (copy, comparison, printing, evaluation) calls its children
// through `with_stack_room`: while the current stack has room the call is a plain call; when it
// runs low, the call continues on a fresh stack segment taken from the heap and returns to the
// original stack afterwards. Recursion is then bounded by memory, not by the thread's stack.
//
// Exceptions thrown inside a segment are carried back and rethrown on the original stack.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace vok {

namespace deep_recursion_detail {

// Bytes left on the current stack (or segment) below the caller's frame.
size_t remaining();
// Runs `body(arg)` on a new stack segment; rethrows what it threw.
void run_on_new_segment(void (*body)(void*), void* arg);
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

} // namespace deep_recursion_detail

template <class F> std::invoke_result_t<F&> with_stack_room(F&& f) {
    using R = std::invoke_result_t<F&>;
    using Fn = std::remove_reference_t<F>;
    static_assert(!std::is_reference_v<R>, "with_stack_room returns values, not references");
    if (deep_recursion_detail::remaining() > deep_recursion_detail::kRedZone) return f();
    if constexpr (std::is_void_v<R>) {
        deep_recursion_detail::run_on_new_segment([](void* p) { (*static_cast<Fn*>(p))(); },
                                                  const_cast<void*>(static_cast<const void*>(&f)));
    } else {
        struct Call {
            Fn* f;
            std::optional<R> result;
        } call{&f, std::nullopt};
        deep_recursion_detail::run_on_new_segment(
            [](void* p) {
                auto* c = static_cast<Call*>(p);
                c->result.emplace((*c->f)());
            },
            &call);
        return R(std::move(*call.result));
    }
}

} // namespace vok
