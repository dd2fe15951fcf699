// Python values to generic JSON values; see json_conversion.h. The way back is in
// value_to_python.cpp.
//
// Nested values are walked from one frame (conversion_walk.h). Each open container builds its
// array or its members where its elements are converted: an element's slot is made first and the
// element is converted into it, a scalar at once, a container when it is finished.
//
// Every part of a container is held by a reference of our own while it is converted (the
// container or the snapshot of its elements, the element being converted), because Python code
// run meanwhile may change or empty what it came from. Whatever that code raises is the call's
// exception: only a conversion's own failure ("not a number") moves on to the next rule. The walk
// polls for cancellation between elements, so Ctrl-C stops a large value's conversion; what was
// converted so far is dropped on the way out and nothing has been stored.
#include "python/json_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/dropping.h"
#include "python/binding/convert.h"
#include "python/binding/list_in_place.h"
#include "python/binding/long_texts.h"
#include "python/binding/messages.h"
#include "python/conversion_walk.h"
#include "python/buffer_arrays.h"

namespace vok::python {

namespace {

// The core copies and compares JSON values recursively, so a value handed to it must stay shallow
// enough for those walks even when a program raises the interpreter's recursion limit far beyond
// its default. Values nested deeper than this are refused like a recursion limit that was reached.
constexpr std::size_t kMaxValueDepth = 10'000;

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

// The scalars are written straight into the slot their value takes, which is null until then.

PyResult<void> put_text(PyObject* text, json::Value& slot) {
    std::string& into = slot.emplace_string();
    // A long non-ASCII text is encoded here, in pieces with polls between them, and leaves no
    // UTF-8 copy attached to the caller's str.
    if (!PyUnicode_IS_READY(text) || PyUnicode_GET_LENGTH(text) >= Py_ssize_t(kUncachedCharacters)) {
        VOK_ASSIGN(bool encoded, append_utf8_in_pieces(text, into));
        if (encoded) return Ok();
    }
    VOK_ASSIGN(std::string_view view, text_from(text));
    // A long ASCII str (whose characters are its UTF-8) is copied in pieces with polls between
    // them: one copy of hundreds of megabytes would keep Ctrl-C waiting, the more so where fresh
    // memory is slow to fault in. The str is immutable, so the view stays whole meanwhile.
    constexpr std::size_t kPiece = std::size_t{1} << 22;
    if (view.size() <= kPiece) {
        into.assign(view);
        return Ok();
    }
    into.reserve(view.size());
    for (std::size_t at = 0; at < view.size(); at += kPiece) {
        if (at > 0) poll_cancellation_now();
        into.append(view.substr(at, kPiece));
    }
    return Ok();
}

PyResult<json::Number> finite_float(double value) {
    if (!std::isfinite(value)) return Err(value_error(messages::kNonFiniteFloat));
    return json::Number::from_f64(value);
}

PyResult<void> put_float(double value, json::Value& slot) {
    VOK_ASSIGN(json::Number number, finite_float(value));
    slot.emplace_number(number);
    return Ok();
}

// The two sets of rules; see json_conversion.h.
enum class Rules { Attribute, Literal };

// How the elements of a container are reached.
enum class Container {
    Elements, // a list or tuple, read as it is while it is walked
    Snapshot, // any other sequence or set, read through a list of its own made by iterating it
    Dict,     // a dict, over a snapshot of its keys and values
    Mapping,  // any other mapping, over the list of its items()
};

// What one Python value is: nothing, when it was converted whole (into the slot the caller gave),
// or the kind of container whose elements follow.
using Classified = std::optional<Container>;

// ---- The attribute rules ----

PyResult<Classified> attribute_value(PyObject* value, json::Value& slot) {
    // The exact built-in types first, as most values are: none of them runs Python code.
    PyTypeObject* const type = Py_TYPE(value);
    if (type == &PyUnicode_Type) {
        VOK_TRY(put_text(value, slot));
        return Classified();
    }
    if (type == &PyLong_Type || (type != &PyBool_Type && PyLong_Check(value))) {
        VOK_ASSIGN(json::Number number, attribute_integer(value));
        slot.emplace_number(number);
        return Classified();
    }
    if (PyFloat_Check(value)) {
        VOK_TRY(put_float(PyFloat_AS_DOUBLE(value), slot));
        return Classified();
    }
    if (value == Py_None) return Classified();
    if (type == &PyList_Type) return Classified(Container::Snapshot);
    if (type == &PyDict_Type) return Classified(Container::Dict);
    if (type == &PyBool_Type) {
        slot.emplace_bool(value == Py_True);
        return Classified();
    }
    if (PyUnicode_Check(value)) {
        VOK_TRY(put_text(value, slot));
        return Classified();
    }
    if (PyDict_Check(value)) return Classified(Container::Dict);
    // Checked before the sequence rule: a mapping has __getitem__ too, and read as a sequence it
    // would give its keys alone.
    if (PyType_HasFeature(type, Py_TPFLAGS_MAPPING)) return Classified(Container::Mapping);
    if (PyTuple_Check(value)) return Classified(Container::Elements);
    // Read straight into their array (buffer_arrays.h). Their subclasses may iterate otherwise,
    // and go through list().
    if (type == &PyBytes_Type || type == &PyByteArray_Type) {
        VOK_TRY(append_bytes(value, slot.emplace_array()));
        return Classified();
    }
    if (type == &PyRange_Type) {
        VOK_TRY(append_range(value, slot.emplace_array()));
        return Classified();
    }
    if (type == &PyMemoryView_Type || is_exact_array_type(type)) {
        VOK_ASSIGN(bool read, append_buffer_items(value, slot));
        if (read) return Classified();
    }
    // Lists too are read through a list of their own, as every other sequence is.
    if (PyAnySet_Check(value) || PySequence_Check(value)) return Classified(Container::Snapshot);
    VOK_ASSIGN(std::string type_name, type_qualname(value));
    return Err(type_error(messages::unsupported_json_type(type_name)));
}

// ---- The literal rules ----

PyResult<Classified> refused_literal(PyObject* value) {
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
PyResult<std::optional<json::Number>> literal_number(PyObject* value) {
    const auto no_number = [] { return std::optional<json::Number>(); };
    const auto as_number = [](double as_float) -> PyResult<std::optional<json::Number>> {
        VOK_ASSIGN(json::Number converted, finite_float(as_float));
        return std::optional(converted);
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
                return std::optional(json::Number::from_i64(integer));
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

PyResult<Classified> literal_value(PyObject* value, json::Value& slot) {
    // An exact str, list, tuple or dict is neither a flag nor a number: the common cases go
    // straight to their rules, without asking the type whether it is numpy's.
    PyTypeObject* const type = Py_TYPE(value);
    if (type == &PyUnicode_Type) {
        VOK_TRY(put_text(value, slot));
        return Classified();
    }
    if (type == &PyList_Type || type == &PyTuple_Type) return Classified(Container::Elements);
    if (type == &PyDict_Type) return Classified(Container::Dict);
    if (value == Py_None) return Classified();
    VOK_ASSIGN(std::optional<bool> flag, flag_if_any(value));
    if (flag) {
        slot.emplace_bool(*flag);
        return Classified();
    }
    VOK_ASSIGN(std::optional<json::Number> number, literal_number(value));
    if (number) {
        slot.emplace_number(*number);
        return Classified();
    }
    if (PyUnicode_Check(value)) {
        VOK_TRY(put_text(value, slot));
        return Classified();
    }
    if (PyList_Check(value) || PyTuple_Check(value)) return Classified(Container::Elements);
    if (PyDict_Check(value)) return Classified(Container::Dict);
    return refused_literal(value);
}

template <Rules R> PyResult<Classified> classify(PyObject* value, json::Value& slot) {
    if constexpr (R == Rules::Attribute) {
        return attribute_value(value, slot);
    } else {
        return literal_value(value, slot);
    }
}

template <Rules R> PyResult<void> read_key(PyObject* key, std::string& into) {
    if constexpr (R == Rules::Attribute) {
        if (!PyUnicode_Check(key)) {
            // Naming its type may run Python code that drops the container the key came from.
            const Ref held = Ref::borrow(key);
            VOK_ASSIGN(std::string type_name, type_qualname(key));
            return Err(type_error(messages::json_key_not_text(type_name)));
        }
    }
    VOK_ASSIGN(std::string_view text, text_from(key));
    into.assign(text);
    return Ok();
}

// ---- The walk ----

// A value being converted that the conversion leaves behind (stopped, or failed) is handed to
// drop_elsewhere when it holds enough to be worth a thread of its own; a smaller one is dropped in
// place. Declared after the value, so that it acts before the value's destructor; a conversion
// that succeeds has moved the value out.
class HandOffLeftBehind {
public:
    explicit HandOffLeftBehind(json::Value& value) noexcept : value_(value) {}
    ~HandOffLeftBehind() {
        if (!value_.is_array() && !value_.is_object()) return;
        try {
            if (json::count_values(value_, kWorthAThread) < kWorthAThread) return;
        } catch (...) {
            return;
        }
        drop_elsewhere(std::move(value_));
    }
    HandOffLeftBehind(const HandOffLeftBehind&) = delete;
    HandOffLeftBehind& operator=(const HandOffLeftBehind&) = delete;

private:
    json::Value& value_;
};

// How the source of an open container holds its elements.
enum class Layout : std::uint8_t {
    Elements, // a list or tuple of the elements
    Flat,     // a list of a dict's keys and values, alternately
    Pairs,    // a list of a mapping's (key, value) items
};

Layout layout_of(Container container) {
    switch (container) {
    case Container::Elements:
    case Container::Snapshot:
        return Layout::Elements;
    case Container::Dict:
        return Layout::Flat;
    case Container::Mapping:
        break;
    }
    return Layout::Pairs;
}

// A list is copied in pieces with a poll between them, so that a list of millions of elements
// does not keep Ctrl-C waiting, nor write more fresh memory than a piece's share of the copy's
// array between two polls. A poll may run Python code (a signal handler) that changes the list:
// the copy is checked against it once it is whole and, when it no longer agrees, made again, so
// that it is the list as it was at one moment, as list() would make it. A copy is made again at
// most kCopyTries times, after which it is made in one step, with nothing able to run in between:
// a handler that changes the list at every poll cannot keep the copy going for ever, and one that
// only returns (a profiler's) costs the check, not a second copy. A dict is read the same way, a
// piece at a time (DictPieces).
constexpr Py_ssize_t kCopyPiece = Py_ssize_t{1} << 18;
constexpr int kCopyTries = 3;

// How many converted elements of a copy are let go of at once (release_converted).
constexpr Py_ssize_t kReleasedAtOnce = 4096;

// Entries in a piece of a dict (DictPieces): its references are what a stop lets go of at most,
// about a millisecond's work.
constexpr Py_ssize_t kDictPiece = Py_ssize_t{1} << 15;

// Reads the next `count` entries of `dict` from `position` (PyDict_Next's) into `piece`, a new
// list of 2 * count slots, which is cut to what was read. Nothing in it runs Python code.
void read_dict_piece(PyObject* dict, Py_ssize_t& position, PyObject* piece, Py_ssize_t count) {
    Py_ssize_t at = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (at < 2 * count && PyDict_Next(dict, &position, &key, &value)) {
        PyList_SET_ITEM(piece, at++, Py_NewRef(key));
        PyList_SET_ITEM(piece, at++, Py_NewRef(value));
    }
    ListInPlace::cut(piece, at);
}

// A dict of one piece at most, read whole before anything of it is converted.
PyResult<Ref> whole_dict(PyObject* dict) {
    for (;;) {
        const Py_ssize_t size = PyDict_GET_SIZE(dict);
        VOK_ASSIGN(Ref piece, checked(PyList_New(2 * size)));
        // Making the list may have run the collector, and with it code that changed the dict.
        if (PyDict_GET_SIZE(dict) != size) continue;
        Py_ssize_t position = 0;
        read_dict_piece(dict, position, piece.get(), size);
        return piece;
    }
}

// The keys and values of a dict, alternately, read into a list of our own a piece at a time as
// its conversion goes: one object made where the dict's items() would make a tuple for each entry.
// Only the piece being converted holds references to the dict's objects, so a stop lets go of a
// piece at most, however large the dict (letting go of a reference costs a cache miss; millions of
// them would keep the exception waiting). The dict's version tag, which every change of the dict
// moves on, tells before each piece whether the dict is still the one the pieces before came from.
// When it is not, its reading starts over from its first entry, and what its members converted to
// is dropped: what the dict converts to is the dict as it was at one moment. The reading starts
// over at most kCopyTries times, after which the dict is read in one piece, with nothing able to
// run in between. A dict of no more than a piece is read whole (whole_dict) before anything of it
// is converted, whatever Python code its conversion runs.
class DictPieces {
public:
    explicit DictPieces(Ref dict) noexcept : dict_(std::move(dict)) {}

    // Whether the pieces handed out cover the dict.
    bool read_to_end() const noexcept { return started_ && taken_ >= size_; }

    // The next piece (empty for an empty dict). `restarted` says that the dict changed since the
    // pieces before were read: this piece is its first again.
    PyResult<Ref> next(bool& restarted) {
        PyObject* const dict = dict_.get();
        restarted = false;
        for (;;) {
            if (started_ && version() != version_) {
                restarted = true;
                started_ = false;
            }
            if (!started_) {
                started_ = true;
                ++tries_;
                version_ = version();
                size_ = PyDict_GET_SIZE(dict);
                position_ = 0;
                taken_ = 0;
            }
            const Py_ssize_t rest = size_ - taken_;
            const Py_ssize_t count = tries_ > kCopyTries ? rest : std::min(rest, kDictPiece);
            VOK_ASSIGN(Ref piece, checked(PyList_New(2 * count)));
            // Making the list may have run the collector, and with it code that changed the dict.
            if (version() != version_) continue;
            read_dict_piece(dict, position_, piece.get(), count);
            taken_ += count;
            return piece;
        }
    }

private:
    std::uint64_t version() const noexcept {
        return reinterpret_cast<PyDictObject*>(dict_.get())->ma_version_tag;
    }

    Ref dict_;
    Py_ssize_t position_ = 0; // PyDict_Next's, after the last entry read
    Py_ssize_t taken_ = 0;    // entries read since the reading (last) started
    Py_ssize_t size_ = 0;
    std::uint64_t version_ = 0;
    int tries_ = 0;
    bool started_ = false;
};

// A copy of a list, as list() makes it: the list as it was at one moment, however Python code run
// meanwhile changes it. A list has no version tag: the copy is compared with it, item by item by
// identity, once whole (a read of both arrays, little beside the copy's references).
PyResult<Ref> list_snapshot(PyObject* list) {
    for (int tries = 1;; ++tries) {
        const Py_ssize_t size = PyList_GET_SIZE(list);
        VOK_ASSIGN(Ref copy, checked(PyList_New(size)));
        // Making the copy may have run the collector, and with it code that emptied, shortened or
        // refilled the list (and freed the items it held).
        if (PyList_GET_SIZE(list) != size) continue;
        const bool in_one_step = size <= kCopyPiece || tries > kCopyTries;
        PyObject** const to = reinterpret_cast<PyListObject*>(copy.get())->ob_item;
        bool polled = false;
        Py_ssize_t at = 0;
        ListInPlace filling(copy.get(), at, !in_one_step);
        while (at < size) {
            if (at > 0) {
                poll_cancellation_now();
                polled = true;
                // The list may have been shortened or grown, and its array moved: read afresh.
                if (PyList_GET_SIZE(list) != size) break;
            }
            const Py_ssize_t end = in_one_step ? size : std::min(size, at + kCopyPiece);
            PyObject* const* const from = reinterpret_cast<PyListObject*>(list)->ob_item;
            for (; at < end; ++at)
                to[at] = Py_NewRef(from[at]);
        }
        if (at < size) continue;
        if (polled && std::memcmp(to, reinterpret_cast<PyListObject*>(list)->ob_item,
                                  std::size_t(size) * sizeof(PyObject*)) != 0)
            continue;
        filling.whole();
        return copy;
    }
}

// The list or tuple that holds the elements (or items) of `value`.
PyResult<Ref> container_source(PyObject* value, Container container) {
    switch (container) {
    case Container::Elements:
        return Ref::borrow(value);
    case Container::Snapshot:
        // A list's copy is what list() would make of it, without the iteration.
        if (PyList_CheckExact(value)) return list_snapshot(value);
        return with_callers_room([&] { return checked(PySequence_List(value)); });
    case Container::Dict:
        // A larger one is read in pieces (DictPieces), by its container.
        return whole_dict(value);
    case Container::Mapping:
        return with_callers_room([&] { return checked(PyMapping_Items(value)); });
    }
    return Err(panic_error("unknown kind of container"));
}

// The converted values of the levels of a stopped walk, given up to be dropped elsewhere.
struct StoppedLevels {
    StoppedLevels() = default;
    StoppedLevels(StoppedLevels&&) noexcept = default;
    StoppedLevels& operator=(StoppedLevels&&) = delete;
    ~StoppedLevels() {
        for (json::Array& items : arrays)
            json::destroy_elements(items);
        for (std::vector<json::Object::Entry>& entries : members)
            json::destroy_entries(entries);
    }
    std::vector<json::Array> arrays;
    std::vector<std::vector<json::Object::Entry>> members;
};

// A container whose elements are being converted, with the array or members they have converted
// to so far, and the slot it goes into when it is finished: its parent's (which stays where it is
// while the container is open, as only the innermost container grows) or the walk's result.
class OpenContainer {
public:
    // `copy` says that the source is a list of our own (a copy of the value's elements).
    OpenContainer(Ref source, Layout layout, json::Value& into, bool copy = false)
        : source_(std::move(source)), into_(&into), layout_(layout), copy_(copy) {
        PyObject* list = source_.get();
        const auto size =
            std::size_t(PyList_Check(list) ? PyList_GET_SIZE(list) : PyTuple_GET_SIZE(list));
        if (layout == Layout::Elements) {
            elements_.reserve(size);
        } else {
            members_.reserve(layout == Layout::Flat ? size / 2 : size);
        }
    }

    // A dict, read in pieces: `first` is its first piece.
    OpenContainer(Ref first, DictPieces pieces, Py_ssize_t size, json::Value& into)
        : source_(std::move(first)), into_(&into), layout_(Layout::Flat),
          pieces_(std::make_unique<DictPieces>(std::move(pieces))) {
        members_.reserve(std::size_t(size));
    }

    // The next element, held, and the slot its value goes into; an empty Ref when there are no
    // more. For items, the key is read first (and refused, for a key that is not text). The source
    // is read afresh at each step: Python code may have shortened it, or put anything in its place.
    template <Rules R> PyResult<Ref> next_element() {
        if (pieces_) {
            VOK_ASSIGN(const bool more, next_piece_when_read());
            if (!more) return Ref();
        }
        PyObject* source = source_.get();
        const bool is_list = PyList_Check(source);
        const Py_ssize_t size = is_list ? PyList_GET_SIZE(source) : PyTuple_GET_SIZE(source);
        const auto at = [&](Py_ssize_t index) {
            return is_list ? PyList_GET_ITEM(source, index) : PyTuple_GET_ITEM(source, index);
        };
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        switch (layout_) {
        case Layout::Elements:
            if (next_ >= size) return Ref();
            if (copy_ && next_ - released_ >= kReleasedAtOnce) release_converted();
            elements_.emplace_back();
            return Ref::borrow(at(next_++));
        case Layout::Flat:
            if (2 * next_ + 1 >= size) return Ref();
            key = at(2 * next_);
            value = at(2 * next_ + 1);
            ++next_;
            break;
        case Layout::Pairs: {
            if (next_ >= size) return Ref();
            PyObject* item = at(next_++);
            if (!PyTuple_Check(item)) {
                // Naming its type may run Python code that empties the list it came from.
                const Ref held = Ref::borrow(item);
                VOK_ASSIGN(std::string type_name, type_qualname(item));
                return Err(type_error(messages::json_item_not_pair(type_name)));
            }
            if (PyTuple_GET_SIZE(item) != 2) {
                return Err(type_error(
                    messages::json_item_not_pair_tuple(std::size_t(PyTuple_GET_SIZE(item)))));
            }
            key = PyTuple_GET_ITEM(item, 0);
            value = PyTuple_GET_ITEM(item, 1);
            break;
        }
        }
        // The key is copied before anything else can run; the value is held from here.
        Ref held = Ref::borrow(value);
        VOK_TRY(read_key<R>(key, members_.emplace_back().first));
        return held;
    }

    // A dict's next piece when the one read is used up (or emptied by Python code that found
    // it); false when there is no more to read. When the dict has changed since its first piece,
    // its reading starts over, and the members converted so far are dropped.
    PyResult<bool> next_piece_when_read() {
        for (;;) {
            if (2 * next_ + 1 < PyList_GET_SIZE(source_.get())) return true;
            if (pieces_->read_to_end()) return false;
            bool restarted = false;
            VOK_ASSIGN(Ref piece, pieces_->next(restarted));
            if (restarted) json::drop_entries(members_);
            source_ = std::move(piece);
            next_ = 0;
        }
    }

    // Lets go of the copy's references to the elements converted so far, putting None in their
    // place, so that a stop late in a long list has only the rest to let go of (a cache miss
    // each), and the references are let go of while their objects are still in the cache. Only
    // while nothing else holds the copy: Python code may have found it, and may look at it. Letting
    // go of a reference may run Python code too, which may change the copy: it is read afresh at
    // each step.
    void release_converted() {
        PyObject* source = source_.get();
        auto* list = reinterpret_cast<PyListObject*>(source);
        while (released_ < next_ && released_ < Py_SIZE(list) && Py_REFCNT(source) == 1) {
            PyObject* item = list->ob_item[released_];
            list->ob_item[released_++] = Py_NewRef(Py_None);
            Py_XDECREF(item);
        }
    }

    // Where the value of the element read last goes.
    json::Value& slot() {
        return layout_ == Layout::Elements ? elements_.back() : members_.back().second;
    }

    // Puts the container, made from what its elements converted to, into its slot.
    void finish() {
        if (layout_ == Layout::Elements) {
            into_->emplace_array() = std::move(elements_);
        } else {
            into_->emplace_object() = json::Object::from_entries(std::move(members_));
        }
    }

    // Drops the elements of the source when it is a large copy of our own, a few at a time with
    // polls between them: dropping millions of references is a stretch of its own. The copy is
    // shortened as it goes, so that it is whole at every step, and read afresh at each: dropping
    // an element, or a poll, may run Python code, which may even have found the copy (through
    // gc.get_objects()); once anything else holds it, it is left to be dropped whole.
    void release_source(CancellationPoller poller) {
        constexpr Py_ssize_t kLargeCopy = 4096;
        PyObject* source = source_.get();
        if (!PyList_CheckExact(source) || PyList_GET_SIZE(source) <= kLargeCopy) return;
        auto* list = reinterpret_cast<PyListObject*>(source);
        while (Py_REFCNT(source) == 1 && Py_SIZE(list) > 0) {
            const Py_ssize_t last = Py_SIZE(list) - 1;
            PyObject* item = list->ob_item[last];
            Py_SET_SIZE(list, last);
            Py_XDECREF(item);
            poller.poll();
        }
    }

    // How many values the elements converted so far hold, keys stored apart from their members
    // included, counted no further than `limit`.
    std::size_t weight(std::size_t limit) const {
        std::size_t count = 0;
        for (std::size_t at = 0; at < elements_.size() && count < limit; ++at)
            count += json::count_values(elements_[at], limit - count);
        if (count < limit) count += json::count_entry_values(members_, limit - count);
        return count;
    }

    // Hands the values every level converted to a thread of their own (common/dropping.h). The
    // lists the levels read stay, to be dropped here with the levels: Python objects are freed on
    // the calling thread, where their finalizers run as they would anywhere else in the program.
    static void hand_off(LevelStack<OpenContainer>& open) {
        StoppedLevels levels;
        levels.arrays.reserve(open.size());
        levels.members.reserve(open.size());
        for (std::size_t level = 0; level < open.size(); ++level) {
            OpenContainer& container = open.at(level);
            levels.arrays.push_back(std::move(container.elements_));
            levels.members.push_back(std::move(container.members_));
        }
        drop_elsewhere(std::move(levels));
    }

private:
    // The list or tuple it is read from; held, so that it outlives whatever Python code runs
    // meanwhile.
    Ref source_;
    json::Value* into_;
    Layout layout_;
    Py_ssize_t next_ = 0;
    // For a copy of our own: the elements before this are let go of (release_converted).
    bool copy_ = false;
    Py_ssize_t released_ = 0;
    json::Array elements_;
    std::vector<json::Object::Entry> members_;
    std::unique_ptr<DictPieces> pieces_; // for a dict of more than a piece, its reading
};

// Converts the elements of `root`, a container of the given kind, and of the containers in it.
template <Rules R> PyResult<json::Value> walk(PyObject* root, Container root_container) {
    json::Value converted;
    RecursionBudget budget(messages::kToJsonRecursion);
    LevelStack<OpenContainer> open;
    const HandOffStoppedLevels<OpenContainer> hand_off(open);
    CancellationPoller poller;
    const auto open_container = [&](PyObject* value, Container container,
                                    json::Value& into) -> PyResult<void> {
        if (open.size() >= kMaxValueDepth) {
            PyErr_SetString(PyExc_RecursionError, messages::kToJsonTooDeep);
            return Err(Error::fetch());
        }
        if (!budget.enter()) return Err(Error::fetch());
        if (container == Container::Dict && PyDict_GET_SIZE(value) > kDictPiece) {
            DictPieces pieces(Ref::borrow(value));
            bool restarted = false;
            VOK_ASSIGN(Ref first, pieces.next(restarted));
            open.emplace_back(std::move(first), std::move(pieces), PyDict_GET_SIZE(value), into);
            return Ok();
        }
        VOK_ASSIGN(Ref source, container_source(value, container));
        open.emplace_back(std::move(source), layout_of(container), into,
                          container == Container::Snapshot);
        return Ok();
    };
    VOK_TRY(open_container(root, root_container, converted));
    for (;;) {
        OpenContainer& top = open.back();
        // The element being converted, held until it is converted or opened.
        VOK_ASSIGN(Ref held, top.template next_element<R>());
        if (held) {
            json::Value& slot = top.slot();
            VOK_ASSIGN(Classified container, classify<R>(held.get(), slot));
            if (container) VOK_TRY(open_container(held.get(), *container, slot));
            poller.poll();
            continue;
        }
        top.release_source(poller);
        top.finish();
        open.pop_back();
        budget.leave();
        if (open.empty()) return converted;
    }
}

template <Rules R> PyResult<json::Value> from_python(PyObject* root) {
    json::Value converted;
    // A bytes, range or buffer read straight into its array, stopped part-way.
    const HandOffLeftBehind hand_off(converted);
    VOK_ASSIGN(Classified container, classify<R>(root, converted));
    if (!container) return converted;
    return walk<R>(root, *container);
}

} // namespace

PyResult<json::Value> value_from_python(PyObject* value) {
    return from_python<Rules::Attribute>(value);
}

PyResult<json::Value> literal_from_python(PyObject* value) {
    return from_python<Rules::Literal>(value);
}

} // namespace vok::python
