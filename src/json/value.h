// The generic JSON value: open attributes, literal payloads, documents read without a fixed type.
//
// Two properties are relied on everywhere and shape the representation:
// - an object holds each key once and keeps its keys in ascending byte order whatever the order of
//   insertion, so every text written from a value lists keys in that order. Objects are a sorted
//   vector of entries: lookups are binary searches, and walking them is walking a vector.
// - values nested to any depth can be copied, compared and destroyed: destruction neither recurses
//   nor allocates (it must work when memory has run out: the containers being taken apart hold
//   the list of what is left), and copying and comparing recurse through `with_stack_room`.
// - a number keeps one of three forms (unsigned 64-bit, signed 64-bit, 64-bit float) and numbers of
//   different forms are unequal: 1 and 1.0 are different values. A non-negative integer is always
//   held unsigned, so each integer has exactly one representation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vok {
class FreedBlocks;
} // namespace vok

namespace vok::json {

class Value;

class Number {
public:
    enum class Kind : uint8_t { U64, I64, F64 };

    Number() : kind_(Kind::U64), u_(0) {}
    static Number from_u64(uint64_t v) { return Number(Kind::U64, v); }
    // Non-negative values are stored as U64 so that each integer has one representation.
    static Number from_i64(int64_t v);
    // The caller guarantees a finite value; JSON has no NaN or infinity.
    static Number from_f64(double v);

    Kind kind() const { return kind_; }
    bool is_u64() const { return kind_ == Kind::U64; }
    bool is_i64() const { return kind_ == Kind::I64; }
    bool is_f64() const { return kind_ == Kind::F64; }
    uint64_t as_u64() const { return u_; }
    int64_t as_i64() const { return i_; }
    double as_f64_raw() const { return f_; }
    // The value as a double whatever its form (integers may round).
    double to_f64() const;

    friend bool operator==(const Number& a, const Number& b);

private:
    Number(Kind k, uint64_t bits) : kind_(k), u_(bits) {}
    Kind kind_;
    union {
        uint64_t u_;
        int64_t i_;
        double f_;
    };
};

using Array = std::vector<Value>;

// An object: unique keys in ascending byte order.
class Object {
public:
    using Entry = std::pair<std::string, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;
    using iterator = std::vector<Entry>::iterator;

    Object() = default;
    // Builds an object from entries in any order; of a repeated key the entry given last wins.
    // Stopped by cancellation once it has begun to sort them, it drops them with drop_entries.
    static Object from_entries(std::vector<Entry> entries);
    // The caller guarantees that the keys are already unique and ascending.
    static Object from_sorted_unique_entries(std::vector<Entry> entries);

    // Defined after Value, which must be complete first.
    size_t size() const;
    bool empty() const;
    const_iterator begin() const;
    const_iterator end() const;
    iterator begin();
    iterator end();
    const std::vector<Entry>& entries() const { return entries_; }

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Sets the value of a key, replacing (and dropping) an earlier value.
    Value& insert_or_assign(std::string key, Value value);
    bool erase(std::string_view key);

    friend bool operator==(const Object& a, const Object& b);

private:
    friend class Value;
    std::vector<Entry> entries_;
};

class Value {
public:
    enum class Type : uint8_t { Null, Bool, Number, String, Array, Object };

    Value() = default;
    Value(const Value& other);
    Value(Value&&) noexcept = default;
    Value& operator=(const Value& other);
    Value& operator=(Value&&) noexcept = default;
    ~Value();
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(Number n) : v_(n) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Object o) : v_(std::move(o)) {}
    // Integer and float constructors are explicit about the form they produce.
    static Value from_u64(uint64_t v) { return Value(Number::from_u64(v)); }
    static Value from_i64(int64_t v) { return Value(Number::from_i64(v)); }
    static Value from_f64(double v) { return Value(Number::from_f64(v)); }

    Type type() const { return static_cast<Type>(v_.index()); }
    bool is_null() const { return type() == Type::Null; }
    bool is_bool() const { return type() == Type::Bool; }
    bool is_number() const { return type() == Type::Number; }
    bool is_string() const { return type() == Type::String; }
    bool is_array() const { return type() == Type::Array; }
    bool is_object() const { return type() == Type::Object; }

    bool as_bool() const { return std::get<bool>(v_); }
    const Number& as_number() const { return std::get<Number>(v_); }
    const std::string& as_string() const { return std::get<std::string>(v_); }
    std::string& as_string() { return std::get<std::string>(v_); }
    const Array& as_array() const { return std::get<Array>(v_); }
    Array& as_array() { return std::get<Array>(v_); }
    const Object& as_object() const { return std::get<Object>(v_); }
    Object& as_object() { return std::get<Object>(v_); }

    // Member of an object value; nullptr when this is not an object or lacks the key.
    const Value* get(std::string_view key) const;

    // Replace the value by an empty string / array / object and return it for filling in place.
    std::string& emplace_string() { return v_.emplace<std::string>(); }
    void emplace_number(Number n) { v_.emplace<Number>(n); }
    void emplace_bool(bool b) { v_.emplace<bool>(b); }
    Array& emplace_array() { return v_.emplace<Array>(); }
    Object& emplace_object() { return v_.emplace<Object>(); }

    friend bool operator==(const Value& a, const Value& b);
    friend void drop_in_steps(Value& value);
    friend size_t count_values(const Value& value, size_t limit);

private:
    // Moves the nested arrays and objects of this value into `out`, leaving it without children.
    void take_nested(std::vector<Value>& out);
    // Whether this is an array or object with at least one element.
    bool has_elements() const;
    // Destroys the elements at the end of an array or object that own nothing nested, counting
    // them into `freed`.
    void drop_trailing_leaves(FreedBlocks& freed) noexcept;
    // Removes the last element of a non-empty array or object and returns its value.
    Value pop_last() noexcept;
    // Appends `value` to an array or object (under an empty key) whose capacity has room for it,
    // which the removal of an element has left.
    void push_within_capacity(Value&& value) noexcept;
    // Destroys every value nested in this one without recursing or allocating.
    void dismantle() noexcept;

    std::variant<std::monostate, bool, Number, std::string, Array, Object> v_;
};

// Destroys `value` node by node, polling for cancellation between nodes; stopped, hands what is
// left to a thread of its own (common/dropping.h). `value` is left null. For documents so large
// that freeing them is a long stretch of its own.
void drop_in_steps(Value& value);

// How many values `entries` hold (count_values of each), each key too long to be held in its
// entry counted as one more: what freeing them costs, counted no further than `limit`.
size_t count_entry_values(const std::vector<Object::Entry>& entries, size_t limit);

// Drops entries that a stopped operation leaves behind (`entries` is left empty): on a thread of
// their own when they hold enough values (count_entry_values) to be worth one
// (common/dropping.h), here otherwise, so that the stop reaches the caller without waiting for a
// large object's keys and values to be freed.
void drop_entries(std::vector<Object::Entry>& entries) noexcept;

// Destroy the elements of an array, or entries, last first, each as ~Value destroys a value, the
// small blocks they free merged as they go (common/freed_blocks.h): for a value replaced in an
// object and for what is handed to a thread of its own, whose merging is then done there too.
// The container is left empty.
void destroy_elements(Array& items) noexcept;
void destroy_entries(std::vector<Object::Entry>& entries) noexcept;

// How many values `value` holds, itself and every element of its arrays and objects at any depth,
// counted no further than `limit`: whether freeing it is a long stretch, found at a cost bounded
// by `limit` rather than by the value's size.
size_t count_values(const Value& value, size_t limit);

inline size_t Object::size() const {
    return entries_.size();
}
inline bool Object::empty() const {
    return entries_.empty();
}
inline Object::const_iterator Object::begin() const {
    return entries_.begin();
}
inline Object::const_iterator Object::end() const {
    return entries_.end();
}
inline Object::iterator Object::begin() {
    return entries_.begin();
}
inline Object::iterator Object::end() {
    return entries_.end();
}

} // namespace vok::json
