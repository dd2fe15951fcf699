// Generic JSON values to Python values; see json_conversion.h.
//
// Nested values are walked from one frame (conversion_walk.h). A list is made at its full length
// and filled in place, and until its last slot is filled the collector does not track it: Python
// code that runs meanwhile (a finalizer or weakref callback the collector runs when a later
// element is made, a signal handler at a poll) cannot reach a list with empty slots, even through
// gc.get_objects(). The elements it holds are tracked as usual, so a collection in between counts
// them as reachable. A dict is whole at every step, and is made as json.loads makes it, grown from
// empty: the table of str keys that every such dict has. Small containers (a record, a short row)
// are made whole at once, without a level of the walk; a record with a member too large for that
// is made at once up to that member, and the walk goes on with its dict. The walk polls for
// cancellation between members; a stopped conversion drops what it made before its exception goes
// on.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cancellation.h"
#include "python/binding/convert.h"
#include "python/binding/list_in_place.h"
#include "python/binding/messages.h"
#include "python/conversion_walk.h"
#include "python/json_conversion.h"
#include "python/key_memo.h"

namespace vok::python {

namespace {

// Texts longer than this go through str_to_python, which copies very long ones in pieces with
// polls between them.
constexpr std::size_t kShortText = std::size_t{1} << 20;

bool is_container(const json::Value& value) {
    return value.is_array() || value.is_object();
}

// Whether new_scalar makes `value`: a scalar other than a long text. Asked of every member.
[[gnu::always_inline]] inline bool is_short_scalar(const json::Value& value) {
    switch (value.type()) {
    case json::Value::Type::Array:
    case json::Value::Type::Object:
        return false;
    case json::Value::Type::String:
        return value.as_string().size() <= kShortText;
    default:
        return true;
    }
}

bool is_long_text(const json::Value& value) {
    return value.is_string() && value.as_string().size() > kShortText;
}

// Whether new_key makes the str of `text` at once. A longer key is made in pieces with polls, so
// only the walk, whose levels hold what they made, makes it: its object is never made at once.
bool is_short_key(std::string_view text) {
    return text.size() <= kShortText;
}

// A new reference to a short text as a str, or null with the exception set.
PyObject* new_text(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

// A new reference to the Python form of a scalar other than a long text, or null with the
// exception set.
[[gnu::always_inline]] inline PyObject* new_scalar(const json::Value& value) {
    switch (value.type()) {
    case json::Value::Type::Null:
        return Py_NewRef(Py_None);
    case json::Value::Type::Bool:
        return Py_NewRef(value.as_bool() ? Py_True : Py_False);
    case json::Value::Type::Number: {
        const json::Number& number = value.as_number();
        switch (number.kind()) {
        case json::Number::Kind::U64:
            return PyLong_FromUnsignedLongLong(number.as_u64());
        case json::Number::Kind::I64:
            return PyLong_FromLongLong(number.as_i64());
        case json::Number::Kind::F64:
            break;
        }
        return PyFloat_FromDouble(number.as_f64_raw());
    }
    case json::Value::Type::String:
    case json::Value::Type::Array:
    case json::Value::Type::Object:
        break;
    }
    return new_text(value.as_string());
}

// The Python form of any scalar.
PyResult<Ref> scalar_to_python(const json::Value& value) {
    if (is_long_text(value)) return str_to_python(value.as_string());
    PyObject* made = new_scalar(value);
    if (made == nullptr) return Err(Error::fetch());
    return Ref::steal(made);
}

// A new reference to the str of an object's key, or null with the exception set.
PyObject* new_key(std::string_view text) {
    if (text.size() <= kShortText) [[likely]]
        return new_text(text);
    auto made = str_to_python(text);
    if (!made.ok()) {
        std::move(made).error().restore();
        return nullptr;
    }
    return std::move(made).value().release();
}

// How many levels of small containers are made whole at once (make_small): a record of scalars
// and a list or two of them, as most documents' elements are.
constexpr int kSmallDepth = 2;

// The most members a small container has.
constexpr std::size_t kSmallMembers = 16;

bool is_small(const json::Value& container, int depth);

// Whether `member` can be made within a small container of `depth` levels: a scalar other than a
// long text or, `depth` allowing, a small container itself.
[[gnu::always_inline]] inline bool fits(const json::Value& member, int depth) {
    return is_short_scalar(member) ||
           (depth > 1 && is_container(member) && is_small(member, depth - 1));
}

// Whether `container` is small enough to be made whole at once: a few members, each of which
// fits.
bool is_small(const json::Value& container, int depth) {
    if (container.is_array()) {
        const json::Array& items = container.as_array();
        if (items.size() > kSmallMembers) return false;
        for (const json::Value& item : items)
            if (!fits(item, depth)) return false;
        return true;
    }
    const auto& entries = container.as_object().entries();
    if (entries.size() > kSmallMembers) return false;
    for (const auto& entry : entries)
        if (!is_short_key(entry.first) || !fits(entry.second, depth)) return false;
    return true;
}

// A new reference to the list or dict of a small container (is_small), or null with the exception
// set. Made without the walk's levels or polls: a handful of objects. Only making a list or dict
// can start a collection, and with it Python code (finalizers, weakref callbacks), so a list is
// kept from the collector while it holds empty slots and its members include containers, as the
// walk's lists are; a dict is whole at every step. Each container takes a level of the recursion
// budget while it is made, as in the walk.
PyObject* make_small(const json::Value& container, KeyMemo& keys) {
    if (Py_EnterRecursiveCall(messages::kFromJsonRecursion) != 0) return nullptr;
    const auto make_member = [&keys](const json::Value& member) {
        return is_short_scalar(member) ? new_scalar(member) : make_small(member, keys);
    };
    PyObject* made = nullptr;
    if (container.is_array()) {
        const json::Array& items = container.as_array();
        made = PyList_New(Py_ssize_t(items.size()));
        bool untracked = false;
        for (std::size_t at = 0; made != nullptr && at < items.size(); ++at) {
            if (!untracked && !is_short_scalar(items[at])) {
                PyObject_GC_UnTrack(made);
                untracked = true;
            }
            PyObject* element = make_member(items[at]);
            if (element == nullptr) {
                Py_CLEAR(made);
            } else {
                // Tracked again after the list, below: the collector then meets the list before
                // the lists in it, as it meets those json.loads makes, and a pass over them costs
                // what it costs there (met first, a list the list holds is set apart as
                // unreachable, and brought back when the list is met).
                if (PyList_CheckExact(element)) PyObject_GC_UnTrack(element);
                PyList_SET_ITEM(made, Py_ssize_t(at), element);
            }
        }
        if (made != nullptr && untracked) {
            PyObject_GC_Track(made);
            for (Py_ssize_t at = 0; at < PyList_GET_SIZE(made); ++at) {
                PyObject* element = PyList_GET_ITEM(made, at);
                if (PyList_CheckExact(element)) PyObject_GC_Track(element);
            }
        }
    } else {
        made = PyDict_New();
        KeyMemo::ObjectKeys object(made);
        for (const auto& [text, member] : container.as_object().entries()) {
            if (made == nullptr) break;
            PyObject* key = keys.key(text, object);
            PyObject* value = key != nullptr ? make_member(member) : nullptr;
            if (value == nullptr || PyDict_SetItem(made, key, value) != 0) Py_CLEAR(made);
            Py_XDECREF(key);
            Py_XDECREF(value);
        }
    }
    Py_LeaveRecursiveCall();
    return made;
}

// A record: an object of at most kSmallMembers members, whose dict make_record makes.
bool is_record(const json::Value& value) {
    return value.is_object() && value.as_object().size() <= kSmallMembers;
}

// The dict make_record made, whole or up to a member.
struct MadeRecord {
    PyObject* dict; // a new reference, or null with the exception set
    std::size_t made; // how many members it holds: all of them, or those before one that is left
};

// Makes the dict of a record (is_record) as make_small would, checking each member as it comes
// rather than all of them first: a record is read once, not twice. Stops before the first member
// that does not fit a small container, or whose key is long, and leaves that member and the rest
// to the walk, which goes on with the dict.
MadeRecord make_record(const json::Value& record, KeyMemo& keys) {
    if (Py_EnterRecursiveCall(messages::kFromJsonRecursion) != 0) return {nullptr, 0};
    PyObject* made = PyDict_New();
    const auto& entries = record.as_object().entries();
    std::size_t at = 0;
    if (made != nullptr) {
        KeyMemo::ObjectKeys object(made);
        for (; at < entries.size(); ++at) {
            const auto& [text, member] = entries[at];
            const bool scalar = is_short_scalar(member);
            if (!is_short_key(text) || (!scalar && !fits(member, kSmallDepth))) break;
            PyObject* key = keys.key(text, object);
            PyObject* value = key == nullptr  ? nullptr
                              : scalar        ? new_scalar(member)
                                              : make_small(member, keys);
            if (value == nullptr || PyDict_SetItem(made, key, value) != 0) Py_CLEAR(made);
            Py_XDECREF(key);
            Py_XDECREF(value);
            if (made == nullptr) break;
        }
    }
    Py_LeaveRecursiveCall();
    return {made, at};
}

// An array or object whose members are being made, and the list or dict it becomes.
class OpenOutput {
public:
    static PyResult<OpenOutput> open(const json::Value& container) {
        PyObject* made = container.is_object()
                             ? PyDict_New()
                             : PyList_New(Py_ssize_t(container.as_array().size()));
        if (made == nullptr) return Err(Error::fetch());
        if (!container.is_object()) PyObject_GC_UnTrack(made);
        return OpenOutput(container, Ref::steal(made));
    }

    // The level of a record whose dict make_record made up to a member, which goes on with it.
    static OpenOutput resume(const json::Value& record, Ref dict, std::size_t made) {
        OpenOutput resumed(record, std::move(dict));
        resumed.next_ = made;
        return resumed;
    }

    // Makes the next members as long as they are scalars other than long texts or small,
    // polling between them (nothing else here runs Python code). Returns the member it stopped
    // at, which is for the caller to make (an object's key is made already), or nullptr when all
    // are made. A record among them that make_record made only in part is returned too, its
    // dict left to take_started().
    PyResult<const json::Value*> fill(KeyMemo& keys, CancellationPoller poller) {
        PyObject* made = made_.get();
        if (!container_->is_object()) {
            // Kept in locals, which the calls into the interpreter cannot change.
            const json::Array& items = container_->as_array();
            const json::Value* const first = items.data();
            const std::size_t count = items.size();
            PyObject** const slots = reinterpret_cast<PyListObject*>(made)->ob_item;
            std::size_t at = next_;
            for (; at < count; ++at) {
                const json::Value& item = first[at];
                PyObject* element = nullptr;
                if (!is_short_scalar(item)) [[unlikely]] {
                    if (is_record(item)) {
                        const MadeRecord record = make_record(item, keys);
                        if (record.dict != nullptr && record.made < item.as_object().size()) {
                            started_ = Ref::steal(record.dict);
                            started_members_ = record.made;
                            next_ = at + 1;
                            return &item;
                        }
                        element = record.dict;
                    } else if (!is_container(item) || !is_small(item, kSmallDepth)) {
                        next_ = at + 1;
                        return &item;
                    } else {
                        element = make_small(item, keys);
                    }
                } else {
                    element = new_scalar(item);
                }
                if (element == nullptr) {
                    next_ = at;
                    return Err(Error::fetch());
                }
                slots[at] = element;
                // Counted before a poll that may stop the walk: the list is cut to it then.
                next_ = at + 1;
                poller.poll();
            }
            return static_cast<const json::Value*>(nullptr);
        }
        const auto& entries = container_->as_object().entries();
        for (; next_ < entries.size(); ++next_) {
            const auto& [text, member] = entries[next_];
            Ref key = Ref::steal(keys.key(text, object_keys_));
            if (!key) return Err(Error::fetch());
            Ref value;
            if (!is_short_scalar(member)) {
                keys.waiting(object_keys_, key.get());
                if (is_record(member)) {
                    const MadeRecord record = make_record(member, keys);
                    value = Ref::steal(record.dict);
                    if (value && record.made < member.as_object().size()) {
                        started_ = std::move(value);
                        started_members_ = record.made;
                        key_ = std::move(key);
                        return &entries[next_++].second;
                    }
                } else if (!is_container(member) || !is_small(member, kSmallDepth)) {
                    key_ = std::move(key);
                    return &entries[next_++].second;
                } else {
                    value = Ref::steal(make_small(member, keys));
                }
            } else {
                value = Ref::steal(new_scalar(member));
            }
            if (!value) return Err(Error::fetch());
            if (PyDict_SetItem(made, key.get(), value.get()) != 0) return Err(Error::fetch());
            poller.poll();
        }
        return static_cast<const json::Value*>(nullptr);
    }

    // The dict of the record fill() stopped at, when make_record made it in part (else empty), and
    // how many of its members it holds.
    std::pair<Ref, std::size_t> take_started() {
        return {std::move(started_), std::exchange(started_members_, 0)};
    }

    // Puts the member fill() stopped at, now made, in its place.
    PyResult<void> add(Ref member) {
        if (!container_->is_object()) {
            PyList_SET_ITEM(made_.get(), Py_ssize_t(next_ - 1), member.release());
            return Ok();
        }
        const Ref key = std::move(key_);
        if (PyDict_SetItem(made_.get(), key.get(), member.get()) != 0) return Err(Error::fetch());
        return Ok();
    }

    // The list or dict, whole.
    Ref finish() {
        if (!container_->is_object()) PyObject_GC_Track(made_.get());
        return std::move(made_);
    }

    OpenOutput(OpenOutput&&) = default;
    OpenOutput& operator=(OpenOutput&&) = delete;
    // A list left before it is whole, by a stop or a failure, is dropped with the slots filled so
    // far only (see ListInPlace).
    ~OpenOutput() {
        if (made_ && !container_->is_object()) ListInPlace::cut(made_.get(), Py_ssize_t(next_));
    }

private:
    OpenOutput(const json::Value& container, Ref made)
        : container_(&container), made_(std::move(made)), object_keys_(made_.get()) {}

    const json::Value* container_;
    std::size_t next_ = 0;
    Ref made_;
    Ref key_; // the key of the member fill() stopped at
    Ref started_; // the dict of that member, a record that make_record made in part
    std::size_t started_members_ = 0;
    KeyMemo::ObjectKeys object_keys_;
};

} // namespace

PyResult<Ref> value_to_python(const json::Value& root) {
    if (!is_container(root)) return scalar_to_python(root);
    KeyMemo keys(new_key);
    if (is_small(root, kSmallDepth)) {
        PyObject* made = make_small(root, keys);
        if (made == nullptr) return Err(Error::fetch());
        return Ref::steal(made);
    }
    RecursionBudget budget(messages::kFromJsonRecursion);
    // Stopped or failed, the levels drop what they made here, before the exception goes on:
    // Python objects are freed on the calling thread, whose finalizers then run where the
    // program expects them.
    LevelStack<OpenOutput> open;
    CancellationPoller poller;
    // The member to make next: a container to open, or a long text; nullptr once the innermost
    // open container is whole.
    const json::Value* member = &root;
    for (;;) {
        if (member == nullptr) {
            // The innermost container is whole: it goes to its parent, which goes on.
            Ref done = open.back().finish();
            open.pop_back();
            budget.leave();
            if (open.empty()) return done;
            VOK_TRY(open.back().add(std::move(done)));
        } else if (is_container(*member)) {
            if (!budget.enter()) return Err(Error::fetch());
            auto [started, made] = open.empty() ? std::pair<Ref, std::size_t>()
                                                : open.back().take_started();
            if (started) {
                open.emplace_back(OpenOutput::resume(*member, std::move(started), made));
            } else {
                VOK_ASSIGN(OpenOutput opened, OpenOutput::open(*member));
                open.emplace_back(std::move(opened));
            }
        } else {
            VOK_ASSIGN(Ref made, scalar_to_python(*member));
            VOK_TRY(open.back().add(std::move(made)));
        }
        poller.poll();
        VOK_ASSIGN(member, open.back().fill(keys, poller));
    }
}

} // namespace vok::python
