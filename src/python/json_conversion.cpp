// Python values to and from generic JSON values; see json_conversion.h.
//
// Containers are walked over snapshots or with a strong reference to each element, because
// converting an element can run Python code (__iter__, __index__, __float__, a numpy __bool__)
// that changes the container being walked. That code may be reached at any depth of a nested
// value, so it runs with the room the call had (with_callers_room), and whatever it raises is the
// call's exception: only a conversion's own failure ("not a number") moves on to the next rule.
#include "python/json_conversion.h"

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/binding/convert.h"
#include "python/binding/messages.h"
#include "common/deep_recursion.h"

namespace vok::python {

namespace {

// Runs one recursive step under CPython's recursion limit and with stack room for the C++ frames.
template <class F> auto nested(const char* where, F&& step) -> decltype(step()) {
    if (Py_EnterRecursiveCall(where) != 0) return Err(Error::fetch());
    auto result = vok::with_stack_room([&] { return step(); });
    Py_LeaveRecursiveCall();
    return result;
}

// The core copies, compares and destroys JSON values recursively, so a value handed to it must
// stay shallow enough for those walks even when a program raises the interpreter's recursion
// limit far beyond its default. Values nested deeper than this are refused like a recursion
// limit that was reached.
constexpr int kMaxValueDepth = 10'000;
thread_local int t_value_depth = 0;

template <class F> auto nested_into_json(F&& step) -> decltype(step()) {
    if (t_value_depth >= kMaxValueDepth) {
        PyErr_SetString(PyExc_RecursionError, messages::kToJsonTooDeep);
        return Err(Error::fetch());
    }
    struct Level {
        Level() { ++t_value_depth; }
        ~Level() { --t_value_depth; }
    } level;
    return nested(messages::kToJsonRecursion, std::forward<F>(step));
}

PyResult<Ref> checked(PyObject* made) {
    if (made == nullptr) return Err(Error::fetch());
    return Ref::steal(made);
}

PyResult<std::string> type_qualname(PyObject* object) {
    Ref qualname = Ref::steal(with_callers_room([&] {
        return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__");
    }));
    if (!qualname) return Err(Error::fetch());
    VOK_ASSIGN(std::string_view text, text_from(qualname.get()));
    return std::string(text);
}

PyResult<json::Value> string_value(PyObject* text) {
    VOK_ASSIGN(std::string_view view, text_from(text));
    return json::Value(view);
}

// Converts the elements of a list or tuple in order. The list may shrink while its elements are
// converted; each element is held by a reference of our own while it is converted.
template <class Convert> PyResult<json::Value> array_of(PyObject* sequence, Convert&& convert) {
    json::Array items;
    const bool is_list = PyList_Check(sequence);
    for (Py_ssize_t i = 0;; ++i) {
        Py_ssize_t size = is_list ? PyList_GET_SIZE(sequence) : PyTuple_GET_SIZE(sequence);
        if (i >= size) break;
        Ref item =
            Ref::borrow(is_list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i));
        VOK_ASSIGN(json::Value value, convert(item.get()));
        items.push_back(std::move(value));
    }
    return json::Value(std::move(items));
}

// Converts a dict's entries in the dict's order, over a snapshot of its items. `key_of` turns a
// key into text or refuses it.
template <class KeyOf, class Convert>
PyResult<json::Value> object_of(PyObject* dict, KeyOf&& key_of, Convert&& convert) {
    VOK_ASSIGN(Ref entries, checked(PyDict_Items(dict)));
    std::vector<json::Object::Entry> members;
    members.reserve(std::size_t(PyList_GET_SIZE(entries.get())));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(entries.get()); ++i) {
        PyObject* entry = PyList_GET_ITEM(entries.get(), i);
        VOK_ASSIGN(std::string_view key, key_of(PyTuple_GET_ITEM(entry, 0)));
        VOK_ASSIGN(json::Value value, convert(PyTuple_GET_ITEM(entry, 1)));
        members.emplace_back(std::string(key), std::move(value));
    }
    return json::Value(json::Object::from_entries(std::move(members)));
}

PyResult<json::Value> finite_float(double value) {
    if (!std::isfinite(value)) return Err(value_error(messages::kNonFiniteFloat));
    return json::Value::from_f64(value);
}

// ---- The attribute rules ----

PyResult<json::Value> attribute_value(PyObject* value);

PyResult<json::Value> attribute_integer(PyObject* value) {
    int overflow = 0;
    long long signed_value = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) {
        if (signed_value == -1 && PyErr_Occurred()) return Err(Error::fetch());
        return json::Value::from_i64(signed_value);
    }
    // Beyond i64: positive values up to 2**64 - 1 still fit; anything else raises CPython's own
    // OverflowError from the conversion that failed.
    if (overflow < 0) {
        PyLong_AsLongLong(value);
        return Err(Error::fetch());
    }
    unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(value);
    if (unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return Err(Error::fetch());
    }
    return json::Value::from_u64(unsigned_value);
}

PyResult<std::string_view> attribute_key(PyObject* key) {
    if (PyUnicode_Check(key)) return text_from(key);
    VOK_ASSIGN(std::string type_name, type_qualname(key));
    return Err(type_error(messages::json_key_not_text(type_name)));
}

PyResult<json::Value> attribute_container(PyObject* value) {
    auto convert = [](PyObject* item) { return attribute_value(item); };
    if (PyDict_Check(value)) return object_of(value, attribute_key, convert);
    if (PyTuple_Check(value)) return array_of(value, convert);
    // Sets and other sequences are read through a list of their own, made by iterating them.
    VOK_ASSIGN(Ref items, with_callers_room([&] { return checked(PySequence_List(value)); }));
    PyResult<json::Value> converted = array_of(items.get(), convert);
    // The list may hold the last references to what the iteration made, whose __del__ runs now.
    with_callers_room([&] { items = Ref(); });
    return converted;
}

PyResult<json::Value> attribute_value(PyObject* value) {
    if (value == Py_None) return json::Value(nullptr);
    if (PyBool_Check(value)) return json::Value(value == Py_True);
    if (PyLong_Check(value)) return attribute_integer(value);
    if (PyFloat_Check(value)) return finite_float(PyFloat_AS_DOUBLE(value));
    if (PyUnicode_Check(value)) return string_value(value);
    if (PyDict_Check(value) || PyAnySet_Check(value) || PySequence_Check(value)) {
        return nested_into_json([&] { return attribute_container(value); });
    }
    VOK_ASSIGN(std::string type_name, type_qualname(value));
    return Err(type_error(messages::unsupported_json_type(type_name)));
}

// ---- The literal rules ----

PyResult<json::Value> literal_value(PyObject* value);

PyResult<json::Value> refused_literal(PyObject* value) {
    Ref text = Ref::steal(with_callers_room([&] { return PyObject_Repr(value); }));
    std::string shown;
    if (text) {
        VOK_ASSIGN(std::string_view view, text_from(text.get()));
        shown = view;
    } else {
        // A repr that fails only leaves the value unnamed; an interrupt or exhausted memory ends
        // the call.
        if (!clear_ordinary_exception()) return Err(Error::fetch());
        VOK_ASSIGN(std::string type_name, type_qualname(value));
        shown = messages::unprintable(type_name);
    }
    return Err(value_error(messages::prefix::kPythonToJson, shown));
}

PyResult<json::Value> literal_container(PyObject* value) {
    auto convert = [](PyObject* item) { return literal_value(item); };
    if (PyDict_Check(value)) return object_of(value, text_from, convert);
    return array_of(value, convert);
}

// Whether the exception just raised by a value's __index__ or __float__ says only that the value
// is no such number (TypeError, as CPython's own conversions raise); it is cleared then. Anything
// else (an interrupt, exhausted memory, an error of the method's own) stays set for the caller.
bool cleared_not_a_number() {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PyErr_Clear();
    return true;
}

// The number rules of a literal: anything with __index__ that fits i64, else anything float()
// takes. Empty when the value is no number, or an integer too large for a float: the rules after
// these decide then. The value's own __index__ and __float__ run at most once each.
PyResult<std::optional<json::Value>> literal_number(PyObject* value) {
    const auto no_number = [] { return std::optional<json::Value>(); };
    const auto as_number = [](double as_float) -> PyResult<std::optional<json::Value>> {
        VOK_ASSIGN(json::Value converted, finite_float(as_float));
        return std::optional(std::move(converted));
    };
    if (PyFloat_CheckExact(value)) return as_number(PyFloat_AS_DOUBLE(value));
    PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
    // int's own float conversion (that of int subclasses too) calls no Python code.
    const bool own_float = number != nullptr && number->nb_float != nullptr &&
                           number->nb_float != PyLong_Type.tp_as_number->nb_float;
    if (number != nullptr && number->nb_index != nullptr) {
        Ref index = Ref::steal(with_callers_room([&] { return PyNumber_Index(value); }));
        if (index) {
            int overflow = 0;
            const long long integer = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
            if (overflow == 0) {
                if (integer == -1 && PyErr_Occurred()) return Err(Error::fetch());
                return std::optional(json::Value::from_i64(integer));
            }
            if (!own_float) {
                const double as_float = PyLong_AsDouble(index.get());
                if (as_float != -1.0 || !PyErr_Occurred()) return as_number(as_float);
                if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return Err(Error::fetch());
                PyErr_Clear();
                return no_number();
            }
        } else if (!cleared_not_a_number()) {
            return Err(Error::fetch());
        }
    }
    // float() would fall back on __index__, which has answered already.
    if (!own_float) return no_number();
    const double as_float = with_callers_room([&] { return PyFloat_AsDouble(value); });
    if (as_float != -1.0 || !PyErr_Occurred()) return as_number(as_float);
    if (!cleared_not_a_number()) return Err(Error::fetch());
    return no_number();
}

PyResult<json::Value> literal_value(PyObject* value) {
    if (value == Py_None) return json::Value(nullptr);
    VOK_ASSIGN(std::optional<bool> flag, flag_if_any(value));
    if (flag) return json::Value(*flag);
    VOK_ASSIGN(std::optional<json::Value> number, literal_number(value));
    if (number) return std::move(*number);
    if (PyUnicode_Check(value)) return string_value(value);
    if (PyList_Check(value) || PyTuple_Check(value) || PyDict_Check(value)) {
        return nested_into_json([&] { return literal_container(value); });
    }
    return refused_literal(value);
}

// ---- JSON to Python ----

PyResult<Ref> number_to_python(const json::Number& number) {
    switch (number.kind()) {
    case json::Number::Kind::U64:
        return checked(PyLong_FromUnsignedLongLong(number.as_u64()));
    case json::Number::Kind::I64:
        return checked(PyLong_FromLongLong(number.as_i64()));
    case json::Number::Kind::F64:
        break;
    }
    return checked(PyFloat_FromDouble(number.as_f64_raw()));
}

PyResult<Ref> container_to_python(const json::Value& value) {
    if (value.is_array()) {
        const json::Array& items = value.as_array();
        VOK_ASSIGN(Ref list, checked(PyList_New(Py_ssize_t(items.size()))));
        for (std::size_t i = 0; i < items.size(); ++i) {
            VOK_ASSIGN(Ref item, value_to_python(items[i]));
            PyList_SET_ITEM(list.get(), Py_ssize_t(i), item.release());
        }
        return list;
    }
    VOK_ASSIGN(Ref dict, checked(PyDict_New()));
    for (const auto& [key, member] : value.as_object()) {
        VOK_ASSIGN(Ref key_object, str_to_python(key));
        VOK_ASSIGN(Ref member_object, value_to_python(member));
        if (PyDict_SetItem(dict.get(), key_object.get(), member_object.get()) != 0) {
            return Err(Error::fetch());
        }
    }
    return dict;
}

} // namespace

PyResult<json::Value> value_from_python(PyObject* value) {
    return attribute_value(value);
}

PyResult<json::Value> literal_from_python(PyObject* value) {
    return literal_value(value);
}

PyResult<Ref> value_to_python(const json::Value& value) {
    switch (value.type()) {
    case json::Value::Type::Null:
        return Ref::borrow(Py_None);
    case json::Value::Type::Bool:
        return Ref::borrow(value.as_bool() ? Py_True : Py_False);
    case json::Value::Type::Number:
        return number_to_python(value.as_number());
    case json::Value::Type::String:
        return str_to_python(value.as_string());
    case json::Value::Type::Array:
    case json::Value::Type::Object:
        break;
    }
    return nested(messages::kFromJsonRecursion, [&] { return container_to_python(value); });
}

} // namespace vok::python
