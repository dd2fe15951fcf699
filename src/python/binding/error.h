// Error values of the Python boundary and the one mapping from error kinds to exceptions.
//
// A wrapper that fails returns an Error; the call frame raises it when the wrapper has returned.
// Errors the binding layer makes itself are plain data (a kind and a message) until they are
// raised, so dropping one touches nothing in the interpreter. An exception that CPython has already
// raised (a failing __index__, a UnicodeEncodeError, out of memory) is fetched into an Error as it
// is, so that it reaches the caller unchanged. PyResult<T> is the result type of every wrapper.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "python/binding/ref.h"
#include "common/result.h"

namespace vok::python {

// The exception classes that errors of this module become; see kind_exception_class(). A Memory
// error with an empty message is CPython's own out-of-memory error; with a message, a MemoryError
// carrying it.
enum class ErrorKind : std::uint8_t { Value, Key, Runtime, Type, System, Import, Memory, Panic };

class Error {
public:
    Error(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    // Takes over the exception that CPython has set. When none is set (a C API call reported
    // failure without raising) the error is a SystemError saying so.
    static Error fetch();

    // True when the error is an exception of class TypeError itself, not of a subclass.
    bool is_exact_type_error() const;
    // The message: the text of a made error, or str() of a fetched exception (nothing, with the
    // failure set, when that str() fails).
    std::optional<std::string> message() const;
    // The argument rule: an exact TypeError becomes "argument '<parameter>': <message>"; when the
    // first error was raised in Python, the new one's __context__ is the first error and its
    // __cause__ the first error's cause. Any other error is returned unchanged.
    Error for_argument(std::string_view parameter) &&;
    // Sets the error as the interpreter's current exception.
    void restore() &&;

private:
    Error() = default;

    ErrorKind kind_ = ErrorKind::System;
    std::string message_;
    // Set when the error was fetched from CPython; the kind and message above are then unused.
    Ref type_;
    Ref value_;
    Ref traceback_;
};

template <class T> using PyResult = vok::Result<T, Error>;

// The exception class of a kind (a borrowed reference). Null, with the failure set, only when the
// panic exception class cannot be made.
PyObject* kind_exception_class(ErrorKind kind);

// The panic exception class, made once per process on first use (borrowed; null on failure).
PyObject* panic_exception_class();

// After a call that failed only on the way to a better message (str() or repr() of a value that is
// being named): clears the exception when it is an ordinary one (an Exception other than
// MemoryError) and says so. An interrupt, SystemExit or exhausted memory stays set, and the caller
// fails with it (Error::fetch()), so that nothing of the kind is lost.
bool clear_ordinary_exception();

// Helpers for wrappers. The message is used as it is; the two-argument forms put a prefix from
// messages::prefix directly before the underlying error's text.
Error value_error(std::string_view message);
Error value_error(std::string_view prefix, std::string_view detail);
Error key_error(std::string_view message);
Error runtime_error(std::string_view message);
Error type_error(std::string_view message);
// A broken invariant; an empty message gets the generic text.
Error panic_error(std::string_view message);
// TypeError "'<type of object>' object cannot be converted to '<target>'".
Error downcast_error(PyObject* object, std::string_view target);

} // namespace vok::python
