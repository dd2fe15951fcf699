// Generic JSON values to Python values; see json_conversion.h.
//
// Nested values are walked from one frame (conversion_walk.h). A list is made at its full length
// and filled in place, and until its last slot is filled the collector does not track it: Python
// code that runs meanwhile (a finalizer or weakref callback the collector runs when a later
// element is made, a signal handler at a poll) cannot reach a list with empty slots, even through
// gc.get_objects(). The elements it holds are tracked as usual, so a collection in between counts
// them as reachable. A dict is whole at every step. The walk polls for cancellation between
// members; a stopped conversion drops what it made.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "common/cancellation.h"
#include "python/binding/convert.h"
#include "python/binding/messages.h"
#include "python/conversion_walk.h"
#include "python/json_conversion.h"

namespace vok::python {

namespace {

// Texts longer than this go through str_to_python, which copies very long ones in pieces with
// polls between them.
constexpr std::size_t kShortText = std::size_t{1} << 20;

bool is_container(const json::Value& value) {
    return value.is_array() || value.is_object();
}

bool is_long_text(const json::Value& value) {
    return value.is_string() && value.as_string().size() > kShortText;
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

// The keys one conversion has made, so that objects with the same keys (the records of a list,
// mostly) share their key strings, as json.loads's do: a str made and hashed once per distinct key
// rather than once per object. Keys repeat only from one object to another, so the memo is
// engaged once a conversion has opened a second object and made a few keys (a small value, or one
// object of many keys, pays nothing for it), and put away for good after a run of misses longer
// than it has slots (distinct keys, which it cannot share, stop paying for the lookups). The
// texts are the converted value's own, which outlives the conversion.
class KeyMemo {
public:
    KeyMemo() = default;
    KeyMemo(const KeyMemo&) = delete;
    KeyMemo& operator=(const KeyMemo&) = delete;
    ~KeyMemo() { release_slots(); }

    // Called as each object is opened.
    void object_opened() { ++objects_; }

    // A new reference to the key's str, or null with the exception set.
    PyObject* key(std::string_view text) {
        if (!slots_) [[likely]] {
            if (++made_ <= kEngageAfter || objects_ < 2 || put_away_) return new_key(text);
            slots_ = std::make_unique<Slot[]>(kSlots);
        }
        Slot& slot = slots_[hash(text) & (kSlots - 1)];
        if (slot.str != nullptr && slot.text == text) {
            misses_ = 0;
            return Py_NewRef(slot.str);
        }
        PyObject* made = new_key(text);
        if (made == nullptr) return nullptr;
        if (++misses_ > kSlots) {
            release_slots();
            put_away_ = true;
            return made;
        }
        Py_XSETREF(slot.str, Py_NewRef(made));
        slot.text = text;
        return made;
    }

private:
    static constexpr std::size_t kEngageAfter = 32;
    static constexpr std::size_t kSlots = 256;

    struct Slot {
        std::string_view text;
        PyObject* str = nullptr;
    };

    void release_slots() {
        if (!slots_) return;
        for (std::size_t i = 0; i < kSlots; ++i)
            Py_XDECREF(slots_[i].str);
        slots_.reset();
    }

    static PyObject* new_key(std::string_view text) {
        if (text.size() <= kShortText) [[likely]]
            return new_text(text);
        auto made = str_to_python(text);
        if (!made.ok()) {
            std::move(made).error().restore();
            return nullptr;
        }
        return std::move(made).value().release();
    }

    // Keys are mostly short; a long one is told apart by its length and its first bytes.
    static std::size_t hash(std::string_view text) {
        std::size_t h = text.size();
        for (const char c : text.substr(0, 32))
            h = h * 31 + static_cast<unsigned char>(c);
        return h ^ (h >> 8);
    }

    std::size_t made_ = 0;
    std::size_t objects_ = 0;
    std::size_t misses_ = 0; // in a row
    bool put_away_ = false;
    std::unique_ptr<Slot[]> slots_;
};

// A new dict with room for `members` entries, or null with the exception set. A large dict is
// made with room for all of them, as a list is: growing one from empty rebuilds its table at every
// doubling. CPython exports the call for a dict of known size; up to a few entries, it gives what
// PyDict_New gives, which a small object gets directly.
PyObject* new_dict(std::size_t members) {
    constexpr std::size_t kFitsAnEmptyDict = 5;
    return members <= kFitsAnEmptyDict ? PyDict_New() : _PyDict_NewPresized(Py_ssize_t(members));
}

// An array or object whose members are being made, and the list or dict it becomes.
class OpenOutput {
public:
    static PyResult<OpenOutput> open(const json::Value& container, KeyMemo& keys) {
        PyObject* made = container.is_object()
                             ? new_dict(container.as_object().size())
                             : PyList_New(Py_ssize_t(container.as_array().size()));
        if (made == nullptr) return Err(Error::fetch());
        if (container.is_object()) {
            keys.object_opened();
        } else {
            PyObject_GC_UnTrack(made);
        }
        return OpenOutput(container, Ref::steal(made));
    }

    // Makes the next members as long as they are scalars other than long texts, polling between
    // them (nothing else here runs Python code). Returns the member it stopped at, which is for
    // the caller to make (an object's key is made already), or nullptr when all are made.
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
                if (is_container(item) || is_long_text(item)) {
                    next_ = at + 1;
                    return &item;
                }
                PyObject* element = new_scalar(item);
                if (element == nullptr) {
                    next_ = at;
                    return Err(Error::fetch());
                }
                slots[at] = element;
                poller.poll();
            }
            next_ = at;
            return static_cast<const json::Value*>(nullptr);
        }
        const auto& entries = container_->as_object().entries();
        for (; next_ < entries.size(); ++next_) {
            const auto& [text, member] = entries[next_];
            Ref key = Ref::steal(keys.key(text));
            if (!key) return Err(Error::fetch());
            if (is_container(member) || is_long_text(member)) {
                key_ = std::move(key);
                return &entries[next_++].second;
            }
            const Ref value = Ref::steal(new_scalar(member));
            if (!value) return Err(Error::fetch());
            if (PyDict_SetItem(made, key.get(), value.get()) != 0) return Err(Error::fetch());
            poller.poll();
        }
        return static_cast<const json::Value*>(nullptr);
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

private:
    OpenOutput(const json::Value& container, Ref made)
        : container_(&container), made_(std::move(made)) {}

    const json::Value* container_;
    std::size_t next_ = 0;
    Ref made_;
    Ref key_; // the key of the member fill() stopped at
};

} // namespace

PyResult<Ref> value_to_python(const json::Value& root) {
    if (!is_container(root)) return scalar_to_python(root);
    RecursionBudget budget(messages::kFromJsonRecursion);
    KeyMemo keys;
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
            VOK_ASSIGN(OpenOutput opened, OpenOutput::open(*member, keys));
            open.emplace_back(std::move(opened));
        } else {
            VOK_ASSIGN(Ref made, scalar_to_python(*member));
            VOK_TRY(open.back().add(std::move(made)));
        }
        poller.poll();
        VOK_ASSIGN(member, open.back().fill(keys, poller));
    }
}

} // namespace vok::python
