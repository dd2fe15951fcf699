// Enumeration classes.
//
// The module's enumerations are not Python enum.Enum classes but classes of the module whose
// instances each hold one variant, as one byte: its position in the enumeration. One
// implementation serves them all, driven by the member names of the class's ClassSpec: the
// members are class attributes made once with the class object; int() gives the value; repr() and
// str() give "Class.Variant"; == and != compare with a member of the same class or with anything
// that converts to a signed 64-bit integer, and every other comparison is NotImplemented (so
// ordering raises TypeError and members of different classes are unequal). There is no __hash__,
// so CPython makes members unhashable. Calling the class is refused like any class without a
// constructor.
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>

#include "python/binding/class_spec.h"

namespace vok::python {

struct EnumValue {
    std::uint8_t index;
};

// The table of an enumeration class. `members` must outlive the table (a constant array).
constexpr ClassSpec enumeration(const char* name, std::span<const char* const> members,
                                const char* doc = nullptr);

// The table of an enumeration class that stands for the core enumeration E, whose values are the
// member positions. The type travels with the table, so a wrapper can only hand the class a value
// of its own enumeration and only read one back as that enumeration.
template <class E>
requires std::is_enum_v<E>
struct EnumerationSpec : ClassSpec {
    using Enum = E;
};

template <class E>
requires std::is_enum_v<E>
constexpr EnumerationSpec<E> typed_enumeration(const char* name,
                                               std::span<const char* const> members,
                                               const char* doc = nullptr) {
    return EnumerationSpec<E>{enumeration(name, members, doc)};
}

// A result that is an enumeration member: converted to a new instance of the class (equal to,
// not the same object as, the class attribute).
struct Member {
    const ClassSpec& enumeration;
    std::uint8_t index;
};

// A member of the class for a value of its core enumeration.
template <class E> Member member(const EnumerationSpec<E>& enumeration, E value) {
    return Member{enumeration, static_cast<std::uint8_t>(value)};
}

// A new member instance of the enumeration class.
PyResult<Ref> new_member(const ClassSpec& enumeration, std::uint8_t index);

// The index of `object`, which must be a member of the enumeration class; any other object is a
// TypeError with the downcast text naming the class.
PyResult<std::uint8_t> member_index(PyObject* object, const ClassSpec& enumeration);

namespace detail {
PyObject* enum_repr(PyObject* self);
PyObject* enum_int(PyObject* self);
PyObject* enum_richcompare(PyObject* self, PyObject* other, int op);
} // namespace detail

constexpr ClassSpec enumeration(const char* name, std::span<const char* const> members,
                                const char* doc) {
    return ClassSpec{
        .name = name,
        .doc = doc,
        .layout = layout_of<EnumValue>(),
        .slots = {.repr = &detail::enum_repr,
                  .richcompare = &detail::enum_richcompare,
                  .to_int = &detail::enum_int},
        .members = members,
    };
}

} // namespace vok::python
