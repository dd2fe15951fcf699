// The call frame: the one way every entry from CPython runs.
//
// An entry (method, function, constructor, slot, getter, module initialisation) hands its body to
// call_frame. The body returns a PyResult; the frame converts success into CPython's return value
// and raises an Error. A broken invariant (vok::InvariantFailure) or any other C++ exception is
// caught here and becomes the panic exception; running out of memory becomes MemoryError, and a
// failure of the machine (vok::EnvironmentFailure: libcrypto lacks an algorithm) RuntimeError.
// While the body runs, the core's cancellation polls ask the interpreter's signal check, so Ctrl-C
// stops a long call: the check has set KeyboardInterrupt (or whatever the handler raised) and the
// core unwinds with OperationCancelled. No C++ exception ever unwinds into CPython. Guards and Refs
// owned by the body are released on the way out, so a failed call leaves no borrow taken and no
// reference held.
//
// Before the body runs, the frame makes sure the thread can run it at all: its thread-local
// storage exists (MemoryError when it cannot be had, rather than the C library ending the
// process), the stack's limits are read again at the first guard, and a body entered with little
// stack left (a thread made with a small stack) runs on a stack segment of its own. Python code
// the body runs (conversions, signal handlers) gets the room the call had (with_callers_room).
// The frame's parts reach the thread's state through the address prepare_thread gives them: a
// thread_local of a loaded module costs a call into the dynamic loader each time a function
// reaches one, which a short call would feel.
#pragma once

#include <Python.h>

#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/environment_failure.h"
#include "common/invariant.h"
#include "common/thread_preparation.h"
#include "python/binding/error.h"
#include "python/binding/messages.h"

namespace vok::python {

namespace detail {

// Raises the panic exception without allocating on the C++ side, so it is safe in a handler.
inline void raise_panic(const char* what) noexcept {
    if (PyObject* panic_class = panic_exception_class()) {
        PyErr_SetString(panic_class, what != nullptr && *what != '\0'
                                         ? what
                                         : messages::kPanicWithoutMessage.data());
    }
}

// The cancellation check of every call: a signal handler that raised (KeyboardInterrupt from
// Ctrl-C) leaves its exception set and stops the operation. The handler is Python code and runs
// with the room the call had, however deep the poll.
inline bool python_signal_raised(void*) {
    return with_callers_room([] { return PyErr_CheckSignals() != 0; });
}

// MemoryError naming what ran out of memory: the operation ("Graph.parse") when the entry knows
// it, else the class of the receiver. Building the text may itself fail; then the bare error.
inline void raise_no_memory(const char* operation, PyObject* receiver) noexcept {
    try {
        std::string what;
        if (operation != nullptr) {
            what = operation;
        } else if (receiver != nullptr) {
            const std::string_view type_name = Py_TYPE(receiver)->tp_name;
            what = messages::method_of(type_name.substr(type_name.rfind('.') + 1));
        }
        const std::string message = messages::out_of_memory(what);
        PyErr_SetString(PyExc_MemoryError, message.c_str());
    } catch (...) {
        PyErr_NoMemory();
    }
}

} // namespace detail

// Runs `body` (returning PyResult<Ref> or PyResult<Py_hash_t>) and returns CPython's value: the
// new reference or hash, or the failure value (null, -1) with the exception set. `operation` (the
// callable's display name) or else `receiver` names what ran out of memory in a MemoryError.
template <class Body>
auto call_frame(Body&& body, const char* operation = nullptr,
                PyObject* receiver = nullptr) noexcept {
    using Value = std::remove_cvref_t<decltype(std::move(body()).value())>;
    static_assert(std::is_same_v<Value, Ref> || std::is_same_v<Value, Py_hash_t>);
    using Return = std::conditional_t<std::is_same_v<Value, Ref>, PyObject*, Py_hash_t>;
    auto failure = [] {
        if constexpr (std::is_same_v<Return, PyObject*>) {
            return static_cast<PyObject*>(nullptr);
        } else {
            return Py_hash_t(-1);
        }
    };
    // Nothing before this may throw: catching needs the storage it makes.
    ThreadState* const thread = prepare_thread();
    if (thread == nullptr) {
        PyErr_NoMemory();
        return failure();
    }
    const OutsideCall call(thread->stack);
    try {
        const CancellationScope cancellation(thread->cancellation, detail::python_signal_raised,
                                             nullptr);
        auto result = call.run(body);
        if (result.ok()) {
            if constexpr (std::is_same_v<Value, Ref>) {
                return std::move(result).value().release();
            } else {
                return result.value();
            }
        }
        std::move(result).error().restore();
    } catch (const vok::OperationCancelled&) {
        // The signal handler's exception is already set.
    } catch (const vok::InvariantFailure& caught) {
        detail::raise_panic(caught.what());
    } catch (const std::bad_alloc&) {
        detail::raise_no_memory(operation, receiver);
    } catch (const vok::EnvironmentFailure& caught) {
        PyErr_SetString(PyExc_RuntimeError, caught.what());
    } catch (const std::exception& caught) {
        detail::raise_panic(caught.what());
    } catch (...) {
        detail::raise_panic(nullptr);
    }
    return failure();
}

} // namespace vok::python
