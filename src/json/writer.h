// Writing JSON text.
//
// The layout rules of the system's JSON text live here: strings escaped minimally (control
// characters as \u00xx in lower-case hex, non-ASCII kept), floats as the shortest text that reads
// back, laid out the way the system has always written them ("5.0", "0.00001", "1e-6", "1e21"),
// pretty output with ": " after keys, "{}" and "[]" for empty containers and no line feed after the
// last bracket.
//
// Besides `Writer`, the writers with fast paths of their own (the pack records'
// semantic_pack::RecordWriter, the authority documents' authority::CompactObject, the formatter's
// source text) are built on the pieces below: one escaping routine (`append_quoted`, with the
// JSON escapes or those of the grammar's string literals), one number text, one way to place a
// member's key (`append_plain_key`) and a list (`append_compact_array`), and one compact walk of a
// value (`write_compact_as`), so that the bytes agree wherever they are written. Every writer polls
// for cancellation as it goes, and where it polls makes room for a long text in steps
// (common/growing_text.h); the text is the caller's to drop.
//
// `Writer` is the streaming form for documents whose members come in a fixed, non-sorted order
// (syntax-tree JSON, pack and authority records): the caller opens objects and arrays, writes keys
// and values, and the writer places separators, line breaks and indentation. It polls for
// cancellation before every element and member, on the thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/growing_text.h"
#include "json/value.h"

namespace vok::json {

// Shortest round-trip text of a finite double in the system's layout.
std::string format_f64(double v);
void append_f64(std::string& out, double v);
void append_u64(std::string& out, uint64_t v);
void append_i64(std::string& out, int64_t v);

// Which characters a quoted string escapes. `Json`: quote, backslash and every control character
// (\b \f \n \r \t by name, the others as \u00xx). `Literal`: the escapes the grammar's string
// literals know (quote, backslash, tab, line feed, carriage return); other control characters are
// written as they are.
enum class Escapes : uint8_t { Json, Literal };

// A JSON string literal, quotes included.
void append_quoted(std::string& out, std::string_view s);
void append_quoted(std::string& out, std::string_view s, Escapes escapes);
std::string quote(std::string_view s);

// The separator (none before the first member), then `"k":`. For the system's own member names,
// which are plain ASCII and need no escaping: one growth check and one copy.
inline void append_plain_key(std::string& out, std::string_view k, bool first) {
    const size_t separator = first ? 0 : 1;
    const size_t at = out.size();
    out.resize(at + separator + k.size() + 3);
    char* p = out.data() + at;
    if (separator) *p++ = ',';
    *p++ = '"';
    std::memcpy(p, k.data(), k.size());
    p += k.size();
    *p++ = '"';
    *p = ':';
}

// Appends the elements of `items` as a compact JSON array, each written by `write_one(out, item)`.
template <class T, class WriteOne>
void append_compact_array(std::string& out, const std::vector<T>& items, WriteOne write_one) {
    out += '[';
    bool first = true;
    size_t written = 0;
    TextWritingPolls polls(out);
    for (const T& item : items) {
        // Once every 64 elements: writing one is short, and most arrays are.
        if (++written % 64 == 0) polls.poll(out);
        if (!first) out += ',';
        first = false;
        write_one(out, item);
    }
    out += ']';
}

// The compact form of `v` with the spelling of texts (object keys included) and numbers left to
// `spell`: `spell.text(out, s)` and `spell.number(out, n)`. `write_compact` is this walk with the
// JSON spelling; the formatter writes annotation values with the source spelling.
template <class Spell> void write_compact_as(std::string& out, const Value& v, const Spell& spell) {
    switch (v.type()) {
    case Value::Type::Null:
        out += "null";
        break;
    case Value::Type::Bool:
        out += v.as_bool() ? "true" : "false";
        break;
    case Value::Type::Number:
        spell.number(out, v.as_number());
        break;
    case Value::Type::String:
        spell.text(out, v.as_string());
        break;
    case Value::Type::Array: {
        out += '[';
        bool first = true;
        TextWritingPolls polls(out);
        for (const Value& item : v.as_array()) {
            polls.poll(out);
            if (!first) out += ',';
            first = false;
            with_stack_room([&] { write_compact_as(out, item, spell); });
        }
        out += ']';
        break;
    }
    case Value::Type::Object: {
        out += '{';
        bool first = true;
        // Entries rather than structured bindings: clang before 16 (the fuzz build's compiler)
        // cannot capture a binding in a lambda.
        TextWritingPolls polls(out);
        for (const Object::Entry& entry : v.as_object()) {
            polls.poll(out);
            if (!first) out += ',';
            first = false;
            spell.text(out, entry.first);
            out += ':';
            with_stack_room([&] { write_compact_as(out, entry.second, spell); });
        }
        out += '}';
        break;
    }
    }
}

void write_compact(std::string& out, const Value& v);
std::string to_compact_string(const Value& v);
// Pretty text with `indent` spaces per level; `level` is the nesting level the value starts at.
void write_pretty(std::string& out, const Value& v, int indent = 2, int level = 0);
std::string to_pretty_string(const Value& v, int indent = 2);

class Writer {
public:
    // indent < 0 writes compactly; otherwise pretty with that many spaces per level.
    explicit Writer(std::string& out, int indent = -1)
        : out_(out), indent_(indent), consulted_at_(out.size()) {}

    // Stops writing once the output would pass `max_bytes`. Pretty output of deeply nested values
    // grows with the square of the depth (every level indents every line below it), so a small
    // document can otherwise ask for gigabytes; callers that bound their output check exceeded().
    void set_limit(size_t max_bytes) { limit_ = max_bytes; }
    bool exceeded() const { return exceeded_; }

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // Starts a member of the innermost object; its value is written next.
    void key(std::string_view k);

    void null_value();
    void bool_value(bool b);
    void string_value(std::string_view s);
    void u64_value(uint64_t v);
    void i64_value(int64_t v);
    void value(const Value& v);

    // Member shorthands: key followed by value.
    void string_member(std::string_view k, std::string_view v) { key(k), string_value(v); }
    void u64_member(std::string_view k, uint64_t v) { key(k), u64_value(v); }
    void i64_member(std::string_view k, int64_t v) { key(k), i64_value(v); }
    void bool_member(std::string_view k, bool v) { key(k), bool_value(v); }
    void value_member(std::string_view k, const Value& v) { key(k), value(v); }
    void string_list_member(std::string_view k, const std::vector<std::string>& items);

private:
    // Separator and indentation before an array element or an object key.
    void before_item();
    void before_value();
    void newline_and_indent(size_t level);

    std::string& out_;
    int indent_;
    // One entry per open container: whether it already has an item.
    std::vector<bool> has_items_;
    bool after_key_ = false;
    size_t limit_ = SIZE_MAX;
    bool exceeded_ = false;
    CancellationPoller poller_;
    // The text's length at the last consultation made for the length written (consult_once_a_step).
    std::size_t consulted_at_;
};

} // namespace vok::json
