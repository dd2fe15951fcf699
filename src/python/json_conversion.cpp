// Python values to and from generic JSON values; see json_conversion.h.
//
// Both directions walk nested values with an explicit list of open containers, not by recursion.
// A conversion allocates Python objects (snapshots of a dict's items, lists and dicts on the way
// out) and drops the last references to others at every level of a value, and either may run
// Python code: CPython collects cycles inside the allocation of a tracked object, and a finalizer
// or a weakref callback then runs wherever that happens. Walking from one frame near the start of
// the call, all of that runs with the room the call itself had, however deep the value.
//
// Every part of a container is held by a reference of our own while it is converted (the
// container, the snapshot of its items, the entry whose value is being converted), because Python
// code run meanwhile may change or empty what it came from. Whatever that code raises is the
// call's exception: only a conversion's own failure ("not a number") moves on to the next rule.
// Each open container takes a level of Python's recursion budget, and every level taken is given
// back when the conversion ends, whichever way it ends.
#include "python/json_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/binding/convert.h"
#include "python/binding/messages.h"
#include "common/deep_recursion.h"

namespace vok::python {

namespace {

// The core copies, compares and destroys JSON values recursively, so a value handed to it must
// stay shallow enough for those walks even when a program raises the interpreter's recursion
// limit far beyond its default. Values nested deeper than this are refused like a recursion
// limit that was reached.
constexpr size_t kMaxValueDepth = 10'000;

// The levels of Python's recursion budget that one conversion has taken; whatever is still taken
// when it ends (an error, a C++ exception) is given back then.
class RecursionBudget {
public:
    explicit RecursionBudget(const char* where) noexcept : where_(where) {}
    ~RecursionBudget() {
        for (; taken_ > 0; --taken_)
            Py_LeaveRecursiveCall();
    }
    RecursionBudget(const RecursionBudget&) = delete;
    RecursionBudget& operator=(const RecursionBudget&) = delete;

    // Takes a level; RecursionError (set) when the budget is spent.
    bool enter() {
        if (Py_EnterRecursiveCall(where_) != 0) return false;
        ++taken_;
        return true;
    }
    void leave() {
        Py_LeaveRecursiveCall();
        --taken_;
    }

private:
    const char* where_;
    size_t taken_ = 0;
};

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

PyResult<json::Value> finite_float(double value) {
    if (!std::isfinite(value)) return Err(value_error(messages::kNonFiniteFloat));
    return json::Value::from_f64(value);
}

// ---- Python to JSON ----

// The two sets of rules; see json_conversion.h.
enum class Rules { Attribute, Literal };

// How the elements of a container are reached.
enum class Container {
    Elements, // a list or tuple, read as it is while it is walked
    Snapshot, // any other sequence or set, read through a list of its own made by iterating it
    Dict,     // a dict, over a snapshot of its items
    Mapping,  // any other mapping, over the list of its items()
};

// What one Python value is: nothing, when it was converted whole (and put on the walk's stack of
// converted values), or the kind of container whose elements follow.
using Classified = std::optional<Container>;

// ---- The attribute rules ----

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

PyResult<Classified> attribute_value(PyObject* value, std::vector<json::Value>& converted) {
    const auto done = [&](auto&& made) {
        converted.emplace_back(std::forward<decltype(made)>(made));
        return Classified();
    };
    if (value == Py_None) return done(nullptr);
    if (PyBool_Check(value)) return done(value == Py_True);
    if (PyLong_Check(value)) {
        VOK_ASSIGN(json::Value number, attribute_integer(value));
        return done(std::move(number));
    }
    if (PyFloat_Check(value)) {
        VOK_ASSIGN(json::Value number, finite_float(PyFloat_AS_DOUBLE(value)));
        return done(std::move(number));
    }
    if (PyUnicode_Check(value)) {
        VOK_ASSIGN(json::Value text, string_value(value));
        return done(std::move(text));
    }
    if (PyDict_Check(value)) return Classified(Container::Dict);
    // Checked before the sequence rule: a mapping has __getitem__ too, and read as a sequence it
    // would give its keys alone.
    if (PyType_HasFeature(Py_TYPE(value), Py_TPFLAGS_MAPPING)) return Classified(Container::Mapping);
    if (PyTuple_Check(value)) return Classified(Container::Elements);
    // Lists too are read through a list of their own, as every other sequence is.
    if (PyAnySet_Check(value) || PySequence_Check(value)) return Classified(Container::Snapshot);
    VOK_ASSIGN(std::string type_name, type_qualname(value));
    return Err(type_error(messages::unsupported_json_type(type_name)));
}

PyResult<std::string> attribute_key(PyObject* key) {
    if (PyUnicode_Check(key)) {
        VOK_ASSIGN(std::string_view text, text_from(key));
        return std::string(text);
    }
    VOK_ASSIGN(std::string type_name, type_qualname(key));
    return Err(type_error(messages::json_key_not_text(type_name)));
}

// ---- The literal rules ----

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

PyResult<Classified> literal_value(PyObject* value, std::vector<json::Value>& converted) {
    const auto done = [&](auto&& made) {
        converted.emplace_back(std::forward<decltype(made)>(made));
        return Classified();
    };
    if (value == Py_None) return done(nullptr);
    VOK_ASSIGN(std::optional<bool> flag, flag_if_any(value));
    if (flag) return done(*flag);
    VOK_ASSIGN(std::optional<json::Value> number, literal_number(value));
    if (number) return done(std::move(*number));
    if (PyUnicode_Check(value)) {
        VOK_ASSIGN(json::Value text, string_value(value));
        return done(std::move(text));
    }
    if (PyList_Check(value) || PyTuple_Check(value)) return Classified(Container::Elements);
    if (PyDict_Check(value)) return Classified(Container::Dict);
    return Err(std::move(refused_literal(value)).error());
}

PyResult<std::string> literal_key(PyObject* key) {
    VOK_ASSIGN(std::string_view text, text_from(key));
    return std::string(text);
}

// ---- The walk ----

// The open containers of a walk, innermost last. The first few live in the walk's own frame, the
// rest in a deque: a shallow value (most are) costs no allocation for them, and a deep one takes
// each level's room once, not again at every doubling of a vector. References to a level stay
// valid while it is open.
template <class T> class LevelStack {
public:
    LevelStack() = default;
    LevelStack(const LevelStack&) = delete;
    LevelStack& operator=(const LevelStack&) = delete;
    ~LevelStack() {
        while (!empty())
            pop_back();
    }

    bool empty() const { return shallow_ == 0; }
    size_t size() const { return shallow_ + (deep_ ? deep_->size() : 0); }
    T& back() { return deep_ && !deep_->empty() ? deep_->back() : *slot(shallow_ - 1); }
    template <class... Args> void emplace_back(Args&&... args) {
        if (shallow_ < kShallow) {
            new (slot(shallow_)) T(std::forward<Args>(args)...);
            ++shallow_;
            return;
        }
        if (!deep_) deep_.emplace();
        deep_->emplace_back(std::forward<Args>(args)...);
    }
    void pop_back() {
        if (deep_ && !deep_->empty()) {
            deep_->pop_back();
            return;
        }
        std::destroy_at(slot(--shallow_));
    }

private:
    static constexpr size_t kShallow = 16;

    T* slot(size_t index) { return std::launder(reinterpret_cast<T*>(storage_)) + index; }

    alignas(T) std::byte storage_[kShallow * sizeof(T)];
    size_t shallow_ = 0;
    std::optional<std::deque<T>> deep_;
};

// A container whose elements are being converted. What they convert to waits on the walk's own
// stacks until the container is finished, so that a level costs a few words whatever it holds.
struct OpenContainer {
    OpenContainer(Ref source, bool items, size_t first_value, size_t first_key)
        : source(std::move(source)), items(items), first_value(first_value),
          first_key(first_key) {}

    // The list or tuple of its elements, or the list of its (key, value) items; held, so that it
    // outlives whatever Python code runs meanwhile.
    Ref source;
    bool items;
    Py_ssize_t next = 0;
    // Where its converted elements (and, for items, their keys) begin on the walk's stacks.
    size_t first_value;
    size_t first_key;
    // The item whose value is being converted, held with its key and value.
    Ref item;
};

// The containers open, innermost last, and the converted parts of each, in order.
struct Walk {
    Walk() { values.reserve(8); }

    LevelStack<OpenContainer> open;
    std::vector<json::Value> values;
    std::vector<std::string> keys;

    void open_container(Ref source, bool items) {
        open.emplace_back(std::move(source), items, values.size(), keys.size());
    }

    // The innermost container, made from its converted parts, which leave the stacks.
    json::Value finish() {
        const OpenContainer top = std::move(open.back());
        open.pop_back();
        const auto first = values.begin() + std::ptrdiff_t(top.first_value);
        if (top.items) {
            std::vector<json::Object::Entry> members;
            members.reserve(size_t(values.end() - first));
            auto key = keys.begin() + std::ptrdiff_t(top.first_key);
            for (auto value = first; value != values.end(); ++value, ++key)
                members.emplace_back(std::move(*key), std::move(*value));
            keys.erase(keys.begin() + std::ptrdiff_t(top.first_key), keys.end());
            values.erase(first, values.end());
            return json::Value(json::Object::from_entries(std::move(members)));
        }
        // The whole stack (a value's outermost array, or its first nested one) is taken over as
        // it is, without moving each element.
        if (top.first_value == 0) return json::Value(std::exchange(values, {}));
        json::Array elements(std::make_move_iterator(first), std::make_move_iterator(values.end()));
        values.erase(first, values.end());
        return json::Value(std::move(elements));
    }
};

// The list or tuple that holds the elements (or items) of `value`.
PyResult<Ref> container_source(PyObject* value, Container container) {
    switch (container) {
    case Container::Elements:
        return Ref::borrow(value);
    case Container::Snapshot:
        return with_callers_room([&] { return checked(PySequence_List(value)); });
    case Container::Dict:
        return checked(PyDict_Items(value));
    case Container::Mapping:
        return with_callers_room([&] { return checked(PyMapping_Items(value)); });
    }
    return Err(panic_error("unknown kind of container"));
}

// The next element of the innermost container, held; empty when it has no more. For items, the
// key is read first (and refused, for a key that is not text) and put on the walk's keys. The
// source is read afresh at each step: Python code may have shortened it, or put anything in its
// place.
template <Rules R> PyResult<Ref> next_element(Walk& walk) {
    OpenContainer& open = walk.open.back();
    PyObject* source = open.source.get();
    const bool is_list = PyList_Check(source);
    const Py_ssize_t size = is_list ? PyList_GET_SIZE(source) : PyTuple_GET_SIZE(source);
    if (open.next >= size) return Ref();
    Ref element = Ref::borrow(is_list ? PyList_GET_ITEM(source, open.next)
                                      : PyTuple_GET_ITEM(source, open.next));
    ++open.next;
    if (!open.items) return element;
    if (!PyTuple_Check(element.get()) || PyTuple_GET_SIZE(element.get()) != 2) {
        VOK_ASSIGN(std::string type_name, type_qualname(element.get()));
        return Err(type_error(messages::json_item_not_pair(type_name)));
    }
    PyObject* key = PyTuple_GET_ITEM(element.get(), 0);
    if constexpr (R == Rules::Attribute) {
        VOK_ASSIGN(std::string text, attribute_key(key));
        walk.keys.push_back(std::move(text));
    } else {
        VOK_ASSIGN(std::string text, literal_key(key));
        walk.keys.push_back(std::move(text));
    }
    open.item = std::move(element);
    return Ref::borrow(PyTuple_GET_ITEM(open.item.get(), 1));
}

template <Rules R> PyResult<Classified> classify(PyObject* value, Walk& walk) {
    if constexpr (R == Rules::Attribute) {
        return attribute_value(value, walk.values);
    } else {
        return literal_value(value, walk.values);
    }
}

template <Rules R> PyResult<json::Value> from_python(PyObject* root) {
    RecursionBudget budget(messages::kToJsonRecursion);
    Walk walk;
    // The value being converted, held until it is converted or opened.
    Ref held = Ref::borrow(root);
    for (;;) {
        VOK_ASSIGN(Classified container, classify<R>(held.get(), walk));
        if (container) {
            if (walk.open.size() >= kMaxValueDepth) {
                PyErr_SetString(PyExc_RecursionError, messages::kToJsonTooDeep);
                return Err(Error::fetch());
            }
            if (!budget.enter()) return Err(Error::fetch());
            VOK_ASSIGN(Ref source, container_source(held.get(), *container));
            walk.open_container(std::move(source),
                                *container == Container::Dict || *container == Container::Mapping);
        }
        // Finishes containers until one has an element left to convert. The item whose value
        // was converted last is let go first.
        for (;;) {
            if (walk.open.empty()) return std::move(walk.values.back());
            walk.open.back().item = Ref();
            VOK_ASSIGN(held, next_element<R>(walk));
            if (held) break;
            walk.values.push_back(walk.finish());
            budget.leave();
        }
    }
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

PyResult<Ref> scalar_to_python(const json::Value& value) {
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
    return Err(panic_error("a container converted as a scalar"));
}

bool is_container(const json::Value& value) {
    return value.is_array() || value.is_object();
}

// An array or object whose members are being made. An array's elements wait on the walk's stack
// of made objects and are put into a list only when all are made, so that no list with empty
// slots is ever visible to Python code (a finalizer reaching it through the collector); a dict is
// whole at every step.
struct OpenOutput {
    const json::Value* container;
    size_t next;
    size_t first_made; // where its elements begin on the stack of made objects
    Ref dict;
    Ref key; // the key of the member being made
};

// The next member of the innermost container, or nullptr when all are made; an object's key is
// made first.
PyResult<const json::Value*> next_member(OpenOutput& open) {
    const size_t at = open.next;
    if (open.container->is_array()) {
        const json::Array& items = open.container->as_array();
        if (at >= items.size()) return static_cast<const json::Value*>(nullptr);
        ++open.next;
        return &items[at];
    }
    const auto& entries = open.container->as_object().entries();
    if (at >= entries.size()) return static_cast<const json::Value*>(nullptr);
    ++open.next;
    VOK_ASSIGN(open.key, str_to_python(entries[at].first));
    return &entries[at].second;
}

} // namespace

PyResult<json::Value> value_from_python(PyObject* value) {
    return from_python<Rules::Attribute>(value);
}

PyResult<json::Value> literal_from_python(PyObject* value) {
    return from_python<Rules::Literal>(value);
}

PyResult<Ref> value_to_python(const json::Value& root) {
    if (!is_container(root)) return scalar_to_python(root);
    RecursionBudget budget(messages::kFromJsonRecursion);
    LevelStack<OpenOutput> open;
    std::vector<Ref> made; // elements of the open arrays, in order
    const json::Value* value = &root;
    for (;;) {
        Ref done;
        if (is_container(*value)) {
            if (!budget.enter()) return Err(Error::fetch());
            Ref dict;
            if (value->is_object()) {
                VOK_ASSIGN(dict, checked(PyDict_New()));
            } else if (const size_t needed = made.size() + value->as_array().size();
                       needed > made.capacity()) {
                // Grown at least twofold, so that arrays nested in arrays stay linear.
                made.reserve(std::max(needed, 2 * made.capacity()));
            }
            open.emplace_back(OpenOutput{value, 0, made.size(), std::move(dict), Ref()});
        } else {
            VOK_ASSIGN(done, scalar_to_python(*value));
        }
        // Hands made objects to their containers until one has a member left to make.
        for (;;) {
            if (open.empty()) return done;
            OpenOutput& top = open.back();
            if (done && top.dict) {
                const Ref key = std::move(top.key);
                if (PyDict_SetItem(top.dict.get(), key.get(), done.get()) != 0)
                    return Err(Error::fetch());
                done = Ref();
            } else if (done) {
                made.push_back(std::move(done));
            }
            VOK_ASSIGN(value, next_member(top));
            if (value != nullptr) break;
            if (top.dict) {
                done = std::move(top.dict);
            } else {
                const auto first = made.begin() + std::ptrdiff_t(top.first_made);
                VOK_ASSIGN(done, checked(PyList_New(made.end() - first)));
                Py_ssize_t index = 0;
                for (auto element = first; element != made.end(); ++element)
                    PyList_SET_ITEM(done.get(), index++, element->release());
                made.erase(first, made.end());
            }
            open.pop_back();
            budget.leave();
        }
    }
}

} // namespace vok::python
