// The bound arguments of one call, converted parameter by parameter.
//
// A wrapper receives Args after binding and converts each argument it needs, in parameter order,
// with the accessor of the parameter's kind. A refusal is returned as the call's error; an
// exception of class TypeError itself becomes "argument '<name>': <message>" (other exceptions,
// such as OverflowError or UnicodeEncodeError, pass unchanged). Accessors of required parameters
// may assume the argument is present (binding guarantees it); optional parameters have
// accessors taking the default or yielding an empty optional.
#pragma once

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <optional>
#include <string>
#include <string_view>

#include "python/binding/convert.h"
#include "python/binding/signature.h"

namespace vok::python {

class Args {
public:
    Args(const Signature& signature, const BoundSlots& slots)
        : signature_(signature), slots_(slots) {}

    // Whether the argument was given (None counts as given).
    bool given(std::size_t i) const { return slots_[i] != nullptr; }
    // Whether the argument was given as something other than None.
    bool given_not_none(std::size_t i) const { return given(i) && slots_[i] != Py_None; }
    // The argument object itself (borrowed; null when not given), for parameters that take any
    // Python value.
    PyObject* raw(std::size_t i) const { return slots_[i]; }

    // Text borrowed from the argument for the duration of the call. A long str that is not ASCII
    // is encoded into the Args' own room, in pieces with polls between them (long_texts.h),
    // rather than by CPython, whose one call writes the whole UTF-8 form with no poll and leaves it
    // attached to the caller's str.
    PyResult<std::string_view> text(std::size_t i) const;
    // Text copied out of the argument, for values the core keeps.
    PyResult<std::string> owned_text(std::size_t i) const;
    // Text, or nothing when the argument is absent or None.
    PyResult<std::optional<std::string_view>> optional_text(std::size_t i) const;
    // Text with a default for an absent argument (None is refused).
    PyResult<std::string_view> text_or(std::size_t i, std::string_view absent) const;

    PyResult<bool> flag(std::size_t i) const;
    // A flag with a default for an absent argument (None is refused).
    PyResult<bool> flag_or(std::size_t i, bool absent) const;
    // A flag, or nothing when the argument is absent or None.
    PyResult<std::optional<bool>> optional_flag(std::size_t i) const;

    PyResult<double> number(std::size_t i) const;

    PyResult<std::uint64_t> count(std::size_t i) const;
    // A count with a default for an absent argument (None is refused).
    PyResult<std::uint64_t> count_or(std::size_t i, std::uint64_t absent) const;

    // A copy of the value of an object of T's class.
    template <PyClassValue T> PyResult<T> object(std::size_t i) const {
        return named(i, object_from<T>(present(i)));
    }
    // An object of T's class, or nothing when the argument is absent or None.
    template <PyClassValue T> PyResult<std::optional<T>> optional_object(std::size_t i) const {
        if (!given_not_none(i)) return std::optional<T>();
        VOK_ASSIGN(T value, object<T>(i));
        return std::optional<T>(std::move(value));
    }

    // The index of a member of the enumeration class.
    PyResult<std::uint8_t> member(std::size_t i, const ClassSpec& enumeration) const;
    // The member as the core enumeration the class stands for.
    template <class E>
    PyResult<E> member(std::size_t i, const EnumerationSpec<E>& enumeration) const {
        VOK_ASSIGN(std::uint8_t index, member(i, static_cast<const ClassSpec&>(enumeration)));
        return static_cast<E>(index);
    }

private:
    PyObject* present(std::size_t i) const;
    // Applies the argument rule to a conversion's result.
    template <class T> PyResult<T> named(std::size_t i, PyResult<T> converted) const {
        if (converted.ok()) return converted;
        return Err(std::move(converted).error().for_argument(signature_.params[i].name));
    }

    const Signature& signature_;
    const BoundSlots& slots_;
    // The UTF-8 forms of long texts encoded for this call; a list, so that each stays in place.
    mutable std::forward_list<std::string> encoded_texts_;
};

} // namespace vok::python
