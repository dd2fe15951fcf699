// Conversions of single Python objects; see convert.h.
#include "python/binding/convert.h"

#include <cstring>

#include "python/binding/messages.h"

namespace vok::python {

namespace {

// numpy's boolean scalar: a type named "bool_" or "bool" whose module is "numpy". Recognised by
// name so that the module needs no numpy to be installed.
bool is_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    Ref module =
        Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module || !PyUnicode_Check(module.get())) {
        PyErr_Clear();
        return false;
    }
    if (PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
    Ref name = Ref::steal(PyType_GetName(type));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

} // namespace

PyResult<std::string_view> text_from(PyObject* object) {
    if (!PyUnicode_Check(object)) return Err(downcast_error(object, messages::kStringTarget));
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return Err(Error::fetch());
    return std::string_view(data, std::size_t(size));
}

PyResult<bool> flag_from(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    if (!is_numpy_bool(object)) return Err(downcast_error(object, messages::kBoolTarget));
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (number == nullptr || number->nb_bool == nullptr) {
        Ref type_text = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(object))));
        if (!type_text) return Err(Error::fetch());
        VOK_ASSIGN(std::string_view text, text_from(type_text.get()));
        return Err(type_error(messages::bool_without_conversion(text)));
    }
    int truth = number->nb_bool(object);
    if (truth < 0) return Err(Error::fetch());
    return truth == 1;
}

PyResult<double> number_from(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return Err(Error::fetch());
    return value;
}

PyResult<std::uint64_t> count_from(PyObject* object) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return Err(Error::fetch());
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return Err(Error::fetch());
    }
    return std::uint64_t(value);
}

PyResult<Ref> str_to_python(std::string_view text) {
    return detail::checked(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
}

} // namespace vok::python
