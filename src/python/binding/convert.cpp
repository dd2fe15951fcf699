// Conversions of single Python objects; see convert.h.
#include "python/binding/convert.h"

#include <cstring>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "python/binding/long_texts.h"
#include "python/binding/messages.h"

namespace vok::python {

namespace {

// Whether every byte of `bytes` is below 0x80; written as one reduction, which the compiler turns
// into wide instructions.
bool all_ascii(std::string_view bytes) {
    unsigned char seen = 0;
    for (char c : bytes)
        seen |= static_cast<unsigned char>(c);
    return seen < 0x80;
}

// numpy's boolean scalar: a type named "bool_" or "bool" whose module is "numpy". Recognised by
// name so that the module needs no numpy to be installed. A type without a module is none; any
// other failure to read it is the caller's.
PyResult<bool> is_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    Ref module = Ref::steal(with_callers_room(
        [&] { return PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"); }));
    if (!module) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Err(Error::fetch());
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get())) return false;
    if (PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
    Ref name = Ref::steal(PyType_GetName(type));
    if (!name) return Err(Error::fetch());
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

PyResult<std::optional<bool>> flag_if_any(PyObject* object) {
    if (object == Py_True) return std::optional(true);
    if (object == Py_False) return std::optional(false);
    // The common values, quickly: none of them is numpy's.
    if (object == Py_None || PyLong_CheckExact(object) || PyFloat_CheckExact(object) ||
        PyUnicode_CheckExact(object) || PyList_CheckExact(object) || PyTuple_CheckExact(object) ||
        PyDict_CheckExact(object)) {
        return std::optional<bool>();
    }
    VOK_ASSIGN(bool numpy, is_numpy_bool(object));
    PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
    if (!numpy || number == nullptr || number->nb_bool == nullptr) return std::optional<bool>();
    const int truth = with_callers_room([&] { return number->nb_bool(object); });
    if (truth < 0) return Err(Error::fetch());
    return std::optional(truth == 1);
}

PyResult<bool> flag_from(PyObject* object) {
    VOK_ASSIGN(std::optional<bool> flag, flag_if_any(object));
    if (flag) return *flag;
    VOK_ASSIGN(bool numpy, is_numpy_bool(object));
    if (!numpy) return Err(downcast_error(object, messages::kBoolTarget));
    Ref type_text = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(object))));
    if (!type_text) return Err(Error::fetch());
    VOK_ASSIGN(std::string_view text, text_from(type_text.get()));
    return Err(type_error(messages::bool_without_conversion(text)));
}

PyResult<double> number_from(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    const double value = with_callers_room([&] { return PyFloat_AsDouble(object); });
    if (value == -1.0 && PyErr_Occurred()) return Err(Error::fetch());
    return value;
}

PyResult<std::uint64_t> count_from(PyObject* object) {
    Ref index = Ref::steal(with_callers_room([&] { return PyNumber_Index(object); }));
    if (!index) return Err(Error::fetch());
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return Err(Error::fetch());
    }
    return std::uint64_t(value);
}

PyResult<Ref> str_to_python(std::string_view text) {
    // A text of hundreds of megabytes (an export) takes a good part of a second to copy. When it
    // is ASCII, as such texts mostly are, it is copied in pieces with a cancellation poll between
    // them; any other long text is decoded in pieces too (long_texts.h), past the ASCII copied.
    // The pieces copied are a megabyte: each fills that much fresh memory, a fault per page, which
    // on a machine where faults are dear is most of the copy's time.
    constexpr std::size_t kPiece = kLongTextCharacters;
    constexpr std::size_t kCopyPiece = std::size_t{1} << 20;
    if (text.size() <= kPiece) {
        return detail::checked(PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size())));
    }
    std::size_t ascii_prefix = 0;
    if (all_ascii(text.substr(0, kPiece))) {
        Ref str = Ref::steal(PyUnicode_New(Py_ssize_t(text.size()), 127));
        if (!str) return Err(Error::fetch());
        auto* out = static_cast<char*>(PyUnicode_DATA(str.get()));
        for (std::size_t at = 0; at < text.size(); at += kCopyPiece) {
            const std::string_view piece = text.substr(at, kCopyPiece);
            if (!all_ascii(piece)) {
                ascii_prefix = at;
                break;
            }
            std::memcpy(out + at, piece.data(), piece.size());
            if (at + piece.size() == text.size()) return str;
            poll_cancellation_now();
        }
    }
    return decode_utf8_in_pieces(text, ascii_prefix);
}

} // namespace vok::python
