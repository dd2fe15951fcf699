// Numbers, objects and values of the generic JSON model; see value.h. Objects keep their entries
// sorted by key for lookup; deep values are copied, compared and destroyed through
// with_stack_room.
#include "json/value.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/dropping.h"
#include "common/freed_blocks.h"
#include "json/key_sort.h"

namespace vok::json {

Number Number::from_i64(int64_t v) {
    if (v >= 0) return Number(Kind::U64, static_cast<uint64_t>(v));
    Number n(Kind::I64, 0);
    n.i_ = v;
    return n;
}

Number Number::from_f64(double v) {
    Number n(Kind::F64, 0);
    n.f_ = v;
    return n;
}

double Number::to_f64() const {
    switch (kind_) {
    case Kind::U64:
        return static_cast<double>(u_);
    case Kind::I64:
        return static_cast<double>(i_);
    case Kind::F64:
        return f_;
    }
    return 0;
}

bool operator==(const Number& a, const Number& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
    case Number::Kind::U64:
        return a.u_ == b.u_;
    case Number::Kind::I64:
        return a.i_ == b.i_;
    case Number::Kind::F64:
        return a.f_ == b.f_;
    }
    return false;
}

namespace {

bool key_less(const Object::Entry& a, const Object::Entry& b) {
    return a.first < b.first;
}

// Of each run of equal keys in `entries` keeps the last, compacting in place; `poll` is called
// per entry. Stopped there, every entry not yet moved is still in `entries`.
template <class Poll> void keep_last_of_equal_keys(std::vector<Object::Entry>& entries, Poll poll) {
    size_t out = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        poll();
        if (i + 1 < entries.size() && entries[i + 1].first == entries[i].first) continue;
        if (out != i) entries[out] = std::move(entries[i]);
        ++out;
    }
    entries.resize(out);
}

} // namespace

Object Object::from_entries(std::vector<Entry> entries) {
    Object o;
    bool sorted_unique = true;
    for (size_t i = 1; i < entries.size() && sorted_unique; ++i)
        sorted_unique = key_less(entries[i - 1], entries[i]);
    if (!sorted_unique) {
        // Objects are mostly small: a stable insertion sort of positions, then one move of each
        // entry into its place; larger ones are sorted by key_sort.h's sort, and the pass that
        // drops repeated keys polls as it reads their keys, wherever the sort left them.
        if (entries.size() <= 32) {
            uint8_t order[32];
            for (size_t i = 0; i < entries.size(); ++i) {
                size_t j = i;
                for (; j > 0 && key_less(entries[i], entries[order[j - 1]]); --j)
                    order[j] = order[j - 1];
                order[j] = static_cast<uint8_t>(i);
            }
            std::vector<Entry> sorted;
            sorted.reserve(entries.size());
            for (size_t i = 0; i < entries.size(); ++i)
                sorted.push_back(std::move(entries[order[i]]));
            entries = std::move(sorted);
            keep_last_of_equal_keys(entries, [] {});
        } else {
            try {
                stable_sort_by_key(entries);
                CancellationPoller poller;
                keep_last_of_equal_keys(entries, [&poller] { poller.poll(); });
            } catch (...) {
                drop_entries(entries);
                throw;
            }
        }
    }
    o.entries_ = std::move(entries);
    return o;
}

Object Object::from_sorted_unique_entries(std::vector<Entry> entries) {
    Object o;
    o.entries_ = std::move(entries);
    return o;
}

const Value* Object::find(std::string_view key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, std::string_view k) { return e.first < k; });
    if (it != entries_.end() && it->first == key) return &it->second;
    return nullptr;
}

Value* Object::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const Object*>(this)->find(key));
}

Value& Object::insert_or_assign(std::string key, Value value) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, const std::string& k) { return e.first < k; });
    if (it != entries_.end() && it->first == key) {
        Value& slot = it->second;
        // A large previous value element by element, so that the blocks it frees are merged as
        // they go.
        if (slot.is_object() && slot.as_object().size() >= FreedBlocks::kBlocksPerMerge) {
            Value previous = std::exchange(slot, std::move(value));
            destroy_entries(previous.as_object().entries_);
        } else if (slot.is_array() && slot.as_array().size() >= FreedBlocks::kBlocksPerMerge) {
            Value previous = std::exchange(slot, std::move(value));
            destroy_elements(previous.as_array());
        } else {
            slot = std::move(value);
        }
        return slot;
    }
    it = entries_.emplace(it, std::move(key), std::move(value));
    return it->second;
}

bool Object::erase(std::string_view key) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, std::string_view k) { return e.first < k; });
    if (it == entries_.end() || it->first != key) return false;
    entries_.erase(it);
    return true;
}

bool operator==(const Object& a, const Object& b) {
    return a.entries_ == b.entries_;
}

Value::Value(const Value& other) : v_(with_stack_room([&] { return other.v_; })) {}

Value& Value::operator=(const Value& other) {
    if (this != &other) *this = Value(other);
    return *this;
}

bool operator==(const Value& a, const Value& b) {
    return with_stack_room([&] { return a.v_ == b.v_; });
}

void Value::take_nested(std::vector<Value>& out) {
    auto keep = [&out](Value& child) {
        if (child.is_array() || child.is_object()) out.push_back(std::move(child));
    };
    if (auto* items = std::get_if<Array>(&v_)) {
        for (Value& child : *items)
            keep(child);
        items->clear();
    } else if (auto* members = std::get_if<Object>(&v_)) {
        for (auto& entry : members->entries_)
            keep(entry.second);
        members->entries_.clear();
    }
}

bool Value::has_elements() const {
    if (const auto* items = std::get_if<Array>(&v_)) return !items->empty();
    if (const auto* members = std::get_if<Object>(&v_)) return !members->entries_.empty();
    return false;
}

Value Value::pop_last() noexcept {
    if (auto* items = std::get_if<Array>(&v_)) {
        Value last = std::move(items->back());
        items->pop_back();
        return last;
    }
    auto& entries = std::get_if<Object>(&v_)->entries_;
    Value last = std::move(entries.back().second);
    entries.pop_back();
    return last;
}

void Value::drop_trailing_leaves(FreedBlocks& freed) noexcept {
    if (auto* items = std::get_if<Array>(&v_)) {
        while (!items->empty() && !items->back().has_elements()) {
            items->pop_back();
            freed.add();
        }
    } else if (auto* members = std::get_if<Object>(&v_)) {
        auto& entries = members->entries_;
        while (!entries.empty() && !entries.back().second.has_elements()) {
            entries.pop_back();
            freed.add();
        }
    }
}

void Value::push_within_capacity(Value&& value) noexcept {
    if (auto* items = std::get_if<Array>(&v_)) {
        items->push_back(std::move(value));
    } else {
        std::get_if<Object>(&v_)->entries_.emplace_back(std::string(), std::move(value));
    }
}

void Value::dismantle() noexcept {
    // Containers whose elements are still to be destroyed form a chain: each holds, as its last
    // element, the one that was waiting before it (null for the first). A container joins the
    // chain only when an element has just been taken out of it, so the link fits in the capacity
    // that element leaves, and nothing is allocated. Each step destroys an element or moves one
    // container, so the whole takes time in proportion to the values nested.
    Value current(std::move(*this));
    Value waiting;
    FreedBlocks freed;
    for (;;) {
        if (!current.has_elements()) {
            if (waiting.is_null()) return;
            current = std::move(waiting);
            waiting = current.pop_last();
            freed.add();
            continue;
        }
        // Elements that own nothing nested are destroyed in place, a run at a time.
        current.drop_trailing_leaves(freed);
        if (!current.has_elements()) continue;
        Value element = current.pop_last();
        current.push_within_capacity(std::move(waiting));
        waiting = std::move(current);
        current = std::move(element);
    }
}

Value::~Value() {
    if (has_elements()) dismantle();
}

void drop_in_steps(Value& value) {
    std::vector<Value> pending;
    pending.push_back(std::move(value));
    value = Value();
    try {
        while (!pending.empty()) {
            poll_cancellation();
            Value node = std::move(pending.back());
            pending.pop_back();
            node.take_nested(pending);
        }
    } catch (...) {
        drop_elsewhere(std::move(pending));
        throw;
    }
}

size_t count_entry_values(const std::vector<Object::Entry>& entries, size_t limit) {
    size_t count = 0;
    for (size_t at = 0; at < entries.size() && count < limit; ++at) {
        const std::string& key = entries[at].first;
        const char* const held = reinterpret_cast<const char*>(&key);
        // A key outside the string's own bytes is a block of its own to free.
        if (key.data() < held || key.data() >= held + sizeof key) ++count;
        count += count_values(entries[at].second, limit - std::min(count, limit));
    }
    return std::min(count, limit);
}

void destroy_elements(Array& items) noexcept {
    // The last merge's worth, or fewer, are destroyed at once, as a vector destroys them.
    FreedBlocks freed;
    while (items.size() >= FreedBlocks::kBlocksPerMerge) {
        items.pop_back();
        freed.add();
    }
    Array().swap(items);
}

void destroy_entries(std::vector<Object::Entry>& entries) noexcept {
    FreedBlocks freed;
    while (entries.size() >= FreedBlocks::kBlocksPerMerge) {
        entries.pop_back();
        freed.add();
    }
    std::vector<Object::Entry>().swap(entries);
}

namespace {

// Entries on their way to a thread of their own, destroyed there by destroy_entries.
struct EntriesToDrop {
    explicit EntriesToDrop(std::vector<Object::Entry>&& taken) noexcept
        : entries(std::move(taken)) {}
    EntriesToDrop(EntriesToDrop&&) noexcept = default;
    EntriesToDrop& operator=(EntriesToDrop&&) = delete;
    ~EntriesToDrop() { destroy_entries(entries); }
    std::vector<Object::Entry> entries;
};

} // namespace

void drop_entries(std::vector<Object::Entry>& entries) noexcept {
    try {
        if (count_entry_values(entries, kWorthAThread) >= kWorthAThread) {
            drop_elsewhere(EntriesToDrop(std::move(entries)));
            return;
        }
    } catch (...) {
        // Without the memory to count them, they are dropped here.
    }
    destroy_entries(entries);
}

size_t count_values(const Value& value, size_t limit) {
    size_t count = 1;
    // Containers whose elements are counted but not yet looked into. Each element is looked at
    // once, after it was counted, so the work stays within the count.
    std::vector<const Value*> pending;
    const auto look_into = [&](const Value& container) {
        if (container.is_array()) {
            const Array& items = container.as_array();
            count += items.size();
            if (count >= limit) return;
            for (const Value& item : items)
                if (item.has_elements()) pending.push_back(&item);
        } else if (container.is_object()) {
            const auto& entries = container.as_object().entries();
            count += entries.size();
            if (count >= limit) return;
            for (const auto& entry : entries)
                if (entry.second.has_elements()) pending.push_back(&entry.second);
        }
    };
    look_into(value);
    while (count < limit && !pending.empty()) {
        const Value* next = pending.back();
        pending.pop_back();
        look_into(*next);
    }
    return std::min(count, limit);
}

const Value* Value::get(std::string_view key) const {
    if (!is_object()) return nullptr;
    return as_object().find(key);
}

} // namespace vok::json
