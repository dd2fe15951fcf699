// Writing JSON text.
//
// The layout rules of the system's JSON text live here: strings escaped minimally (control characters as \u00xx in lower-case hex, non-ASCII kept),
// floats as the shortest text that reads back, laid out the way the system has always written them
// ("5.0", "0.00001", "1e-6", "1e21"), pretty output with ": " after keys, "{}" and "[]" for empty
// containers and no line feed after the last bracket. Not every writer is this one: the pack
// records (semantic_pack::RecordWriter), the authority documents (authority::CompactObject) and
// the formatter's number texts assemble their own text, but take their strings and numbers from
// the quoting and number functions below, so the bytes agree.
//
// `Writer` is the streaming form for documents whose members come in a fixed, non-sorted order
// (syntax-tree JSON, pack and authority records): the caller opens objects and arrays, writes keys
// and values, and the writer places separators, line breaks and indentation. It polls for
// cancellation before every element and member, on the thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/cancellation.h"
#include "json/value.h"

namespace vok::json {

// Shortest round-trip text of a finite double in the system's layout.
std::string format_f64(double v);
void append_f64(std::string& out, double v);
// A JSON string literal, quotes included.
void append_quoted(std::string& out, std::string_view s);
std::string quote(std::string_view s);

void write_compact(std::string& out, const Value& v);
std::string to_compact_string(const Value& v);
// Pretty text with `indent` spaces per level; `level` is the nesting level the value starts at.
void write_pretty(std::string& out, const Value& v, int indent = 2, int level = 0);
std::string to_pretty_string(const Value& v, int indent = 2);

class Writer {
public:
    // indent < 0 writes compactly; otherwise pretty with that many spaces per level.
    explicit Writer(std::string& out, int indent = -1) : out_(out), indent_(indent) {}

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
    void f64_value(double v);
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
};

} // namespace vok::json
