// Rich comparison by value for the expression classes.
//
// `==` holds between two objects of the class whose values are equal by the value type's own
// `operator==`; against any other object it is NotImplemented, so CPython falls back to identity.
// `!=` asks CPython for `self == other` and negates the answer, so an operand that defines its own
// equality is heard in both directions. Ordering is NotImplemented, which CPython turns into a
// TypeError. Both objects are read under shared borrows.
#pragma once

#include <Python.h>

#include "python/binding/binding.h"

namespace vok::python {

template <PyClassValue T> PyObject* value_equality(PyObject* self, PyObject* other, int op) {
    return call_frame([&]() -> PyResult<Ref> {
        if (op == Py_NE) {
            // The operand's own __eq__ and __bool__ may run here.
            Ref equal = Ref::steal(
                with_callers_room([&] { return PyObject_RichCompare(self, other, Py_EQ); }));
            if (!equal) return Err(Error::fetch());
            const int truth = with_callers_room([&] { return PyObject_IsTrue(equal.get()); });
            if (truth < 0) return Err(Error::fetch());
            return Ref::borrow(truth ? Py_False : Py_True);
        }
        if (op != Py_EQ) return Ref::borrow(Py_NotImplemented);
        const ClassSpec& spec = ClassOf<T>::spec();
        VOK_ASSIGN(bool self_accepted, is_instance(self, spec));
        VOK_ASSIGN(bool other_accepted, is_instance(other, spec));
        if (!self_accepted || !other_accepted) return Ref::borrow(Py_NotImplemented);
        VOK_ASSIGN(auto self_borrow, borrow_shared(self));
        VOK_ASSIGN(auto other_borrow, borrow_shared(other));
        bool equal = instance_of<T>(self)->value() == instance_of<T>(other)->value();
        return Ref::borrow(equal ? Py_True : Py_False);
    });
}

} // namespace vok::python
