// The key strings of one value read back, shared across the whole value.
//
// json.loads makes one str per distinct key text of a document and gives it to every object that
// has that key: the records of a list hold the same few strs, which costs the memory of a few keys
// rather than of a key per record, and makes lookups with those keys hit at once on identity. A
// KeyMemo does the same for one conversion: it maps each key text it has made a str for to that
// str, from the first key on, however many distinct keys there are, however long they are and
// whatever they look like.
//
// It starts as a short list searched in order, which a record of a few keys (the most common small
// value) fills without any allocation or hashing, and becomes an open-addressed hash table, grown
// by doubling, once it holds more keys than that. One kind of object gains nothing from it: a
// wide object of keys seen nowhere before (an index by id). Such an object pays for a table as
// large as itself, in time and in fresh memory, for lookups that never hit; so an object whose
// first kWideRun keys are all new leaves its later keys out of the memo, and they are taken in
// from its dict only when some other object misses. Records whose keys repeat hit within their
// first few keys and are never left out.
//
// Keys are hashed whole, whatever their length: a hash of part of a key would put every key that
// shares that part in one chain. A long key costs a hash about as fast as a copy of it, and the
// records that repeat it find it as the key that followed the previous one, by a comparison alone.
//
// The memo holds a reference to each str it maps, so that Python code run meanwhile (a finalizer,
// a signal handler) cannot free one under it, and the texts are the converted value's own, which
// outlive the conversion, or copies the memo holds. Nothing here polls for cancellation: key()
// throws only what the caller's `make` throws (a key made in pieces with polls).
#pragma once

#include <Python.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace vok::python {

class KeyMemo {
public:
    // What the memo knows of the object whose keys are being made: one for each object, made
    // when it is opened, with the dict that object becomes.
    struct ObjectKeys {
        explicit ObjectKeys(PyObject* dict) noexcept : dict(dict) {}
        PyObject* dict;
        std::uint32_t misses = 0;
        bool hit = false;
        bool left_out = false;
        // Whether the memo held keys of other objects when this one was left out: its later keys
        // are looked up then (one of them may be among those), though not learnt.
        bool looks_up = false;
        std::uint32_t taken_in = 0; // the memo's take_ins_ when it was left out
        std::uint32_t left_out_at = 0; // and its place in left_out_ then
    };

    // `make` makes the str of a key text the memo has not seen: a new reference, or null with the
    // exception set.
    using Make = PyObject* (*)(std::string_view text);

    explicit KeyMemo(Make make) noexcept : make_(make) {}
    KeyMemo(const KeyMemo&) = delete;
    KeyMemo& operator=(const KeyMemo&) = delete;
    ~KeyMemo() {
        if (left_any_) [[unlikely]]
            release_left_out();
        if (table_ == nullptr) {
            for (std::uint32_t at = 0; at < listed_; ++at)
                Py_DECREF(list_[at].str);
            return;
        }
        for (std::size_t at = 0; at <= mask_; ++at)
            Py_XDECREF(table_[at].str);
        std::free(table_);
    }

    // A new reference to the str of the key `text`, or null with the exception set.
    PyObject* key(std::string_view view, ObjectKeys& object) {
        Text text(view);
        if (object.left_out) [[unlikely]] {
            if (object.taken_in == take_ins_) return key_left_out(text, object);
            // Another object missed since, and took this one's keys in: it is in the memo again.
            object.left_out = false;
            object.hit = true;
        } else if (!object.hit && object.misses >= kWideRun && leave_out(object)) [[unlikely]] {
            return key_left_out(text, object);
        }
        // Records repeat their keys in one order: the key that followed the previous one last
        // time is tried first, without a hash or a search.
        Slot* const slots = table_ != nullptr ? table_ : list_;
        if (previous_ != 0) {
            const std::uint32_t next = slots[previous_ - 1].follower;
            if (next != 0 && holds(slots[next - 1], view)) {
                previous_ = next;
                return found(slots[next - 1], object);
            }
        }
        if (const Slot* slot = find(text)) return found_after_previous(*slot, object);
        // A key the memo lacks may be one a left-out object has made: those come in first.
        if (!left_out_.empty()) [[unlikely]] {
            take_in_left_out();
            if (const Slot* slot = find(text)) return found_after_previous(*slot, object);
        }
        PyObject* made = make_(view);
        if (made == nullptr) return nullptr;
        ++object.misses;
        follow_previous(remember(text, made));
        return made;
    }

    // Notes that `key`, of `object`, stays out of the object's dict while its member is made (a
    // container, whose keys may take the left-out objects' keys in meanwhile): the memo takes it
    // in with the object's dict.
    void waiting(const ObjectKeys& object, PyObject* key) {
        if (object.left_out && object.taken_in == take_ins_) [[unlikely]]
            Py_XSETREF(left_out_[object.left_out_at].last_key, Py_NewRef(key));
    }

private:
    static constexpr std::uint32_t kWideRun = 64;
    static constexpr std::uint32_t kListed = 8;
    static constexpr std::size_t kFirstTable = 64;

    struct Slot {
        const char* data;
        std::size_t size;
        PyObject* str;
        std::uint32_t tag;
        // The key that came after this one the last time, as its position + 1 (0: none yet).
        std::uint32_t follower;
    };

    // An object whose keys are left out: its dict, and the key it waits with (waiting()). Both
    // held.
    struct LeftOut {
        PyObject* dict;
        PyObject* last_key;
        void release() const {
            Py_DECREF(dict);
            Py_XDECREF(last_key);
        }
    };

    // A key text, and its hash once asked: a key missed is looked for, then remembered, and a
    // long key's hash is a pass over it. The hash is the high half of the text's XXH3: its top
    // bits place a key in the table, whatever its size, so growing the table needs no key hashed
    // again, and all of it tells keys apart before their texts are compared.
    class Text {
    public:
        explicit Text(std::string_view text) noexcept : text_(text) {}
        std::string_view view() const { return text_; }
        std::uint32_t tag() {
            if (!tagged_) {
                tag_ = std::uint32_t(XXH3_64bits(text_.data(), text_.size()) >> 32);
                tagged_ = true;
            }
            return tag_;
        }

    private:
        std::string_view text_;
        std::uint32_t tag_ = 0;
        bool tagged_ = false;
    };

    static PyObject* found(const Slot& slot, ObjectKeys& object) {
        object.misses = 0;
        object.hit = true;
        return Py_NewRef(slot.str);
    }

    static bool holds(const Slot& slot, std::string_view text) {
        return slot.size == text.size() && std::memcmp(slot.data, text.data(), slot.size) == 0;
    }

    std::size_t remembered() const { return table_ != nullptr ? held_ : listed_; }

    // The key of an object left out: the memo's str where the object looks up and the memo has
    // one, else a str of its own, which the memo learns only if it is taken in.
    PyObject* key_left_out(Text& text, ObjectKeys& object) {
        if (object.looks_up) {
            if (const Slot* slot = find(text)) return Py_NewRef(slot->str);
        }
        return make_(text.view());
    }

    // Notes the slot at `position` + 1 (0: none) as the follower of the previous key, and as the
    // previous key of the next.
    void follow_previous(std::uint32_t position) {
        if (previous_ != 0 && position != 0)
            (table_ != nullptr ? table_ : list_)[previous_ - 1].follower = position;
        previous_ = position;
    }

    PyObject* found_after_previous(const Slot& slot, ObjectKeys& object) {
        const Slot* const slots = table_ != nullptr ? table_ : list_;
        follow_previous(std::uint32_t(&slot - slots) + 1);
        return found(slot, object);
    }

    const Slot* find(Text& text) const {
        if (table_ == nullptr) [[likely]] {
            for (std::uint32_t at = 0; at < listed_; ++at) {
                const Slot& slot = list_[at];
                if (holds(slot, text.view())) return &slot;
            }
            return nullptr;
        }
        const std::uint32_t tag = text.tag();
        for (std::size_t at = tag >> shift_;; at = (at + 1) & mask_) {
            const Slot& slot = table_[at];
            if (slot.str == nullptr) return nullptr;
            if (slot.tag == tag && holds(slot, text.view())) return &slot;
        }
    }

    // Maps `text`, which the memo lacks, to `str`; returns its position + 1, or 0 where it was not
    // kept. Without the memory for a larger table, the memo stays as it is and keys it has not seen
    // are made afresh: nothing here throws.
    std::uint32_t remember(Text& text, PyObject* str) {
        if (table_ == nullptr) {
            if (listed_ < kListed) {
                const std::string_view view = text.view();
                list_[listed_++] = Slot{view.data(), view.size(), Py_NewRef(str), 0, 0};
                return listed_;
            }
            if (!to_table()) return 0;
        }
        if (2 * (held_ + 1) > mask_ + 1 && !grow()) return 0;
        return insert(text, str);
    }

    // Leaves the rest of `object`'s keys out of the memo, until some other object misses. False
    // when it cannot be noted (no memory): the object's keys then stay in.
    bool leave_out(ObjectKeys& object) {
        if (object.dict == nullptr) return false;
        try {
            left_out_.push_back(LeftOut{object.dict, nullptr});
        } catch (...) {
            return false;
        }
        Py_INCREF(object.dict);
        left_any_ = true;
        object.left_out = true;
        // Each key the object has made is in the memo: it has missed every time.
        object.looks_up = remembered() > object.misses;
        object.taken_in = take_ins_;
        object.left_out_at = std::uint32_t(left_out_.size() - 1);
        return true;
    }

    // Takes into the memo the keys that the left-out objects have made so far. They are read from
    // the dicts themselves, whose strs the memo then maps: where Python code has changed a dict
    // meanwhile, what it holds is still a str of its own text.
    void take_in_left_out() {
        std::vector<LeftOut> objects;
        objects.swap(left_out_);
        ++take_ins_;
        for (const LeftOut& object : objects) {
            Py_ssize_t position = 0;
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            while (PyDict_Next(object.dict, &position, &key, &value))
                take_in(key);
            if (object.last_key != nullptr) take_in(object.last_key);
            object.release();
        }
    }

    // Maps the str `key` to its own text, unless the memo has a str of that text already.
    void take_in(PyObject* key) {
        if (!PyUnicode_CheckExact(key)) return;
        if (PyUnicode_IS_COMPACT_ASCII(key)) {
            Text text(std::string_view(static_cast<const char*>(PyUnicode_DATA(key)),
                                       std::size_t(PyUnicode_GET_LENGTH(key))));
            if (find(text) == nullptr) remember(text, key);
            return;
        }
        // Its UTF-8 form as bytes the memo holds: asked of the str itself, the form would be kept
        // on it for as long as the str lives, memory the result would hold for nothing.
        PyObject* bytes = PyUnicode_AsUTF8String(key);
        if (bytes == nullptr) {
            PyErr_Clear();
            return;
        }
        Text text(std::string_view(PyBytes_AS_STRING(bytes), std::size_t(PyBytes_GET_SIZE(bytes))));
        if (find(text) != nullptr) {
            Py_DECREF(bytes);
            return;
        }
        try {
            copies_.push_back(bytes);
        } catch (...) {
            Py_DECREF(bytes);
            return;
        }
        remember(text, key);
    }

    // Lets go of what the memo holds for left-out objects and the keys taken in from them: only a
    // value with a wide object has any.
    [[gnu::noinline]] void release_left_out() {
        for (const LeftOut& object : left_out_)
            object.release();
        for (PyObject* copy : copies_)
            Py_DECREF(copy);
    }

    // Puts `str` (referenced anew here) in the table, which has room for it; returns its
    // position + 1.
    std::uint32_t insert(Text& text, PyObject* str) {
        ++held_;
        const std::string_view view = text.view();
        return place(Slot{view.data(), view.size(), Py_NewRef(str), text.tag(), 0});
    }

    // Slots move when the table is made or grown, and forget their followers.
    std::uint32_t place(const Slot& slot) {
        std::size_t at = slot.tag >> shift_;
        while (table_[at].str != nullptr)
            at = (at + 1) & mask_;
        table_[at] = slot;
        table_[at].follower = 0;
        return std::uint32_t(at) + 1;
    }

    // Moves the listed keys to a table. Without the memory for it, the memo stays as it is and
    // keys it has not seen are made afresh: nothing here throws.
    bool to_table() {
        auto* table = static_cast<Slot*>(std::calloc(kFirstTable, sizeof(Slot)));
        if (table == nullptr) return false;
        table_ = table;
        mask_ = kFirstTable - 1;
        shift_ = 32 - std::countr_zero(kFirstTable);
        for (std::uint32_t at = 0; at < listed_; ++at) {
            const Slot& slot = list_[at];
            Text text(std::string_view(slot.data, slot.size));
            insert(text, slot.str);
            Py_DECREF(slot.str);
        }
        listed_ = 0;
        previous_ = 0;
        return true;
    }

    // Doubles the table; false, the table as it was, without the memory for it.
    bool grow() {
        const std::size_t capacity = 2 * (mask_ + 1);
        auto* table = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
        if (table == nullptr) return false;
        Slot* const old = table_;
        const std::size_t old_capacity = mask_ + 1;
        table_ = table;
        mask_ = capacity - 1;
        --shift_;
        for (std::size_t from = 0; from < old_capacity; ++from)
            if (old[from].str != nullptr) place(old[from]);
        std::free(old);
        previous_ = 0;
        return true;
    }

    Make make_;
    // Until it holds more than kListed keys, the memo is this list; then the table.
    Slot list_[kListed];
    std::uint32_t listed_ = 0;
    Slot* table_ = nullptr;
    std::size_t mask_ = 0;
    int shift_ = 32;
    std::size_t held_ = 0;
    // The position + 1 of the slot of the key looked up last (0: none).
    std::uint32_t previous_ = 0;
    // The objects whose keys are left out, and how many times such keys were taken in.
    std::vector<LeftOut> left_out_;
    std::uint32_t take_ins_ = 0;
    // Whether any object was left out: left_out_ and copies_ are empty otherwise.
    bool left_any_ = false;
    // The UTF-8 texts of keys taken in that are not ASCII, as bytes.
    std::vector<PyObject*> copies_;
};

} // namespace vok::python
