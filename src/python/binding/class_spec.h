// Class tables and class objects.
//
// Each class of the module is declared as one constant ClassSpec: its name, docstring, instance
// layout, constructor, methods, static methods, getters and slots (and, for enumeration classes,
// the member names). The rows are made by the helpers of rows.h, which bind each row's small
// wrapper to the generic call frame (call_frame.h). make_class() turns a spec into a CPython heap type with the
// qualified name "builtins.<Name>", no base-type flag (Python code cannot subclass it) and, when
// the class has no constructor, a __new__ that refuses. Each class object is made once per
// process and never freed.
//
// A C++ value type is tied to its class with VOK_PY_CLASS(CoreType, spec), written at global
// namespace scope in the class's header; conversions then find the class from the type alone
// (an argument of class Entity, a result that is an Entity).
#pragma once

#include <Python.h>

#include <span>
#include <type_traits>

#include "python/binding/error.h"
#include "python/binding/object_body.h"
#include "python/binding/signature.h"

namespace vok::python {

struct Layout {
    Py_ssize_t basicsize = 0;
    destructor dealloc = nullptr;
};

template <class T> constexpr Layout layout_of() {
    static_assert(alignof(T) <= 16, "instances are allocated with 16-byte alignment");
    return {Py_ssize_t(sizeof(ObjectBody<T>)), &dealloc_instance<T>};
}

struct ConstructorRow {
    const Signature* signature = nullptr;
    newfunc entry = nullptr;
};

struct MethodRow {
    const Signature* signature;
    const char* doc; // documentation after the text signature; may be null
    PyCFunction entry;
    int flags; // the calling convention, with METH_STATIC for static methods
};

struct GetterRow {
    const char* name;
    getter entry;
    const char* doc; // may be null
};

struct SlotRow {
    reprfunc repr = nullptr;
    reprfunc str = nullptr;
    richcmpfunc richcompare = nullptr;
    hashfunc hash = nullptr;
    unaryfunc to_int = nullptr;
};

struct ClassSpec {
    const char* name;
    const char* doc = nullptr; // the class's own documentation; null for none
    Layout layout;
    ConstructorRow constructor = {};
    std::span<const MethodRow> methods = {};
    std::span<const GetterRow> getters = {};
    SlotRow slots = {};
    // Member names of an enumeration class, in value order; empty for other classes.
    std::span<const char* const> members = {};

    // The class object once made; written once under the interpreter lock.
    mutable PyTypeObject* made = nullptr;
};

// The class object of a spec, made on the first request. For the module body, which reports a
// failure as the import's error.
PyResult<PyTypeObject*> make_class(const ClassSpec& spec);

// The class object for every later need (checking an argument, making a result). The module body
// has made every class by then; should making it fail here anyway, the pending error is printed
// and the call ends with the panic exception.
PyResult<PyTypeObject*> class_object(const ClassSpec& spec);

// The class table a class object was made from by make_class, or null for any other type.
const ClassSpec* spec_of_type(PyTypeObject* type);

// Ties a C++ value type to its class spec; see the file comment.
template <class T> struct ClassOf { static constexpr bool defined = false; };

#define VOK_PY_CLASS(CoreType, class_spec)                                                         \
    template <> struct vok::python::ClassOf<CoreType> {                                            \
        static constexpr bool defined = true;                                                      \
        static const ::vok::python::ClassSpec& spec() { return class_spec; }                       \
    }

template <class T>
concept PyClassValue = ClassOf<T>::defined;

// Whether `object` is an instance of the class (or of a subtype of it).
PyResult<bool> is_instance(PyObject* object, const ClassSpec& spec);

// A new object of T's class holding `value`.
template <PyClassValue T> PyResult<Ref> new_object(T value) {
    VOK_ASSIGN(PyTypeObject * type, class_object(ClassOf<T>::spec()));
    return make_instance<T>(type, std::move(value));
}

} // namespace vok::python
