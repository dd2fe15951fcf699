// The shared protocol of enumeration classes; see enumeration.h.
#include "python/binding/enumeration.h"

#include <string>

#include "common/deep_recursion.h"
#include "common/invariant.h"
#include "python/binding/call_frame.h"
#include "python/binding/messages.h"

namespace vok::python {

namespace {

const ClassSpec& enumeration_of(PyObject* self) {
    const ClassSpec* spec = spec_of_type(Py_TYPE(self));
    VOK_INVARIANT(spec != nullptr && !spec->members.empty(),
                  "enumeration slot reached for an object that is no enumeration member");
    return *spec;
}

std::uint8_t index_of(PyObject* self) {
    return instance_of<EnumValue>(self)->value().index;
}

// The answer to == or != (NotImplemented to any other comparison), as a new reference.
PyObject* compare_result(bool equal, int op) {
    if (op == Py_EQ) return Py_NewRef(equal ? Py_True : Py_False);
    if (op == Py_NE) return Py_NewRef(equal ? Py_False : Py_True);
    return Py_NewRef(Py_NotImplemented);
}

} // namespace

PyResult<Ref> new_member(const ClassSpec& enumeration, std::uint8_t index) {
    VOK_INVARIANT(index < enumeration.members.size(), "enumeration member index out of range");
    VOK_ASSIGN(PyTypeObject * type, class_object(enumeration));
    return make_instance<EnumValue>(type, EnumValue{index});
}

PyResult<std::uint8_t> member_index(PyObject* object, const ClassSpec& enumeration) {
    VOK_ASSIGN(bool member, is_instance(object, enumeration));
    if (!member) return Err(downcast_error(object, enumeration.name));
    // Members never change, so reading the byte needs no borrow.
    return index_of(object);
}

namespace detail {

PyObject* enum_repr(PyObject* self) {
    return call_frame([&]() -> PyResult<Ref> {
        const ClassSpec& spec = enumeration_of(self);
        std::string text = spec.name;
        text += '.';
        text += spec.members[index_of(self)];
        Ref result = Ref::steal(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
        if (!result) return Err(Error::fetch());
        return result;
    });
}

PyObject* enum_int(PyObject* self) {
    return call_frame([&]() -> PyResult<Ref> {
        Ref result = Ref::steal(PyLong_FromLong(index_of(self)));
        if (!result) return Err(Error::fetch());
        return result;
    });
}

PyObject* enum_richcompare(PyObject* self, PyObject* other, int op) {
    // A member of the class, an int (or bool), or an ordering: answered here, without the call
    // frame, whose cost would be most of the comparison's. Nothing here can fail, recurse or run
    // Python code: CPython reads an int's value directly, never through an __index__ of its own.
    if (PyObject_TypeCheck(other, Py_TYPE(self))) {
        return compare_result(index_of(self) == index_of(other), op);
    }
    if (op != Py_EQ && op != Py_NE) return Py_NewRef(Py_NotImplemented);
    if (PyLong_Check(other)) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(other, &overflow);
        if (overflow != 0) return Py_NewRef(Py_NotImplemented);
        return compare_result(value == index_of(self), op);
    }
    // Anything else with __index__ whose value fits 64 bits compares by value. The TypeError of an
    // __index__ that refuses means "not comparable"; anything else it raises (an interrupt,
    // exhausted memory, an error of its own) is the caller's.
    PyNumberMethods* number = Py_TYPE(other)->tp_as_number;
    if (number == nullptr || number->nb_index == nullptr) return Py_NewRef(Py_NotImplemented);
    return call_frame([&]() -> PyResult<Ref> {
        Ref index = Ref::steal(with_callers_room([&] { return PyNumber_Index(other); }));
        if (!index) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return Err(Error::fetch());
            PyErr_Clear();
            return Ref::borrow(Py_NotImplemented);
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (overflow != 0) return Ref::borrow(Py_NotImplemented);
        if (value == -1 && PyErr_Occurred()) return Err(Error::fetch());
        return Ref::steal(compare_result(value == index_of(self), op));
    });
}

} // namespace detail

} // namespace vok::python
