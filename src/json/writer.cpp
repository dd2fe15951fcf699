// The JSON writers; see writer.h. Compact and pretty forms, string escaping and number text
// (std::to_chars, shortest round trip) all live here. Every array element and object member polls
// for cancellation: a text being written is the caller's to drop when the writing stops.
#include "json/writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/growing_text.h"
#include "common/hex.h"
#include "json/byte_scan.h"

namespace vok::json {

namespace {

void append_indent(std::string& out, size_t spaces) {
    out.append(spaces, ' ');
}

void append_number(std::string& out, const Number& n) {
    switch (n.kind()) {
    case Number::Kind::U64:
        append_u64(out, n.as_u64());
        break;
    case Number::Kind::I64:
        append_i64(out, n.as_i64());
        break;
    case Number::Kind::F64:
        append_f64(out, n.as_f64_raw());
        break;
    }
}

// The JSON spelling of texts and numbers for the compact walk.
struct JsonSpelling {
    void text(std::string& out, std::string_view s) const { append_quoted(out, s); }
    void number(std::string& out, const Number& n) const { append_number(out, n); }
};

} // namespace

void append_u64(std::string& out, uint64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void append_i64(std::string& out, int64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void append_f64(std::string& out, double v) {
    if (v == 0) {
        out += std::signbit(v) ? "-0.0" : "0.0";
        return;
    }
    // Shortest digits from the standard library; the layout is ours.
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    size_t e_pos = sci.find('e');
    std::string_view mantissa = sci.substr(0, e_pos);
    int sci_exp = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
    char digits[24];
    int n = 0;
    for (char c : mantissa)
        if (c != '.') digits[n++] = c;
    // value = digits x 10^k; kk is where the decimal point falls relative to the first digit.
    int k = sci_exp - (n - 1);
    int kk = n + k;
    if (k >= 0 && kk <= 16) {
        out.append(digits, static_cast<size_t>(n));
        out.append(static_cast<size_t>(k), '0');
        out += ".0";
    } else if (kk > 0 && kk <= 16) {
        out.append(digits, static_cast<size_t>(kk));
        out += '.';
        out.append(digits + kk, static_cast<size_t>(n - kk));
    } else if (kk > -5 && kk <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-kk), '0');
        out.append(digits, static_cast<size_t>(n));
    } else {
        out += digits[0];
        if (n > 1) {
            out += '.';
            out.append(digits + 1, static_cast<size_t>(n - 1));
        }
        out += 'e';
        append_i64(out, kk - 1);
    }
}

std::string format_f64(double v) {
    std::string s;
    append_f64(s, v);
    return s;
}

namespace {

// The one escaping loop of the system's writers. Runs of bytes that need no escape are copied
// whole; a byte that `E` leaves as it is (a control character of the grammar's literals) simply
// stays in its run.
template <Escapes E> void append_quoted_as(std::string& out, std::string_view s) {
    out += '"';
    const auto* data = reinterpret_cast<const unsigned char*>(s.data());
    const size_t size = s.size();
    size_t run_start = 0;
    size_t i = 0;
    while (i < size) {
        // Skip eight bytes at a time that need no escape: no quote, backslash or control byte
        // (non-ASCII bytes are written as they are). A flagged word is looked at byte by byte.
        while (i + 8 <= size && !byte_scan::needs_escape(byte_scan::load(data + i)))
            i += 8;
        const size_t stop = std::min(size, i + 8);
        for (; i < stop; ++i) {
            unsigned char c = data[i];
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            if constexpr (E == Escapes::Literal) {
                if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
            }
            out.append(s.data() + run_start, i - run_start);
            run_start = i + 1;
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += "\\u00";
                append_hex_byte(out, c);
            }
        }
    }
    out.append(s.data() + run_start, size - run_start);
    out += '"';
}

} // namespace

void append_quoted(std::string& out, std::string_view s) {
    append_quoted_as<Escapes::Json>(out, s);
}

void append_quoted(std::string& out, std::string_view s, Escapes escapes) {
    if (escapes == Escapes::Literal)
        append_quoted_as<Escapes::Literal>(out, s);
    else
        append_quoted_as<Escapes::Json>(out, s);
}

std::string quote(std::string_view s) {
    std::string out;
    append_quoted(out, s);
    return out;
}

void write_compact(std::string& out, const Value& v) {
    write_compact_as(out, v, JsonSpelling{});
}

std::string to_compact_string(const Value& v) {
    std::string out;
    write_compact(out, v);
    return out;
}

void write_pretty(std::string& out, const Value& v, int indent, int level) {
    const size_t step = static_cast<size_t>(indent < 0 ? 0 : indent);
    switch (v.type()) {
    case Value::Type::Array: {
        const Array& items = v.as_array();
        if (items.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        bool first = true;
        TextWritingPolls polls(out);
        for (const Value& item : items) {
            polls.poll(out);
            out += first ? "\n" : ",\n";
            first = false;
            append_indent(out, step * static_cast<size_t>(level + 1));
            with_stack_room([&] { write_pretty(out, item, indent, level + 1); });
        }
        out += '\n';
        append_indent(out, step * static_cast<size_t>(level));
        out += ']';
        return;
    }
    case Value::Type::Object: {
        const Object& members = v.as_object();
        if (members.empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        TextWritingPolls polls(out);
        for (const Object::Entry& entry : members) {
            polls.poll(out);
            out += first ? "\n" : ",\n";
            first = false;
            append_indent(out, step * static_cast<size_t>(level + 1));
            append_quoted(out, entry.first);
            out += ": ";
            with_stack_room([&] { write_pretty(out, entry.second, indent, level + 1); });
        }
        out += '\n';
        append_indent(out, step * static_cast<size_t>(level));
        out += '}';
        return;
    }
    default:
        write_compact(out, v);
    }
}

std::string to_pretty_string(const Value& v, int indent) {
    std::string out;
    write_pretty(out, v, indent, 0);
    return out;
}

// ---- Writer ----

void Writer::newline_and_indent(size_t level) {
    const size_t spaces = static_cast<size_t>(indent_) * level;
    if (out_.size() + spaces >= limit_) {
        exceeded_ = true;
        return;
    }
    out_ += '\n';
    append_indent(out_, spaces);
}

void Writer::before_item() {
    poller_.poll();
    consult_once_a_step(out_, consulted_at_);
    make_text_room(out_);
    if (has_items_.empty()) return;
    bool first = !has_items_.back();
    has_items_.back() = true;
    if (!first) out_ += ',';
    if (indent_ >= 0) newline_and_indent(has_items_.size());
}

void Writer::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    before_item();
}

void Writer::key(std::string_view k) {
    before_item();
    append_quoted(out_, k);
    out_ += indent_ >= 0 ? ": " : ":";
    after_key_ = true;
}

void Writer::begin_object() {
    before_value();
    out_ += '{';
    has_items_.push_back(false);
}

void Writer::end_object() {
    bool had_items = has_items_.back();
    has_items_.pop_back();
    if (had_items && indent_ >= 0) newline_and_indent(has_items_.size());
    out_ += '}';
}

void Writer::begin_array() {
    before_value();
    out_ += '[';
    has_items_.push_back(false);
}

void Writer::end_array() {
    bool had_items = has_items_.back();
    has_items_.pop_back();
    if (had_items && indent_ >= 0) newline_and_indent(has_items_.size());
    out_ += ']';
}

void Writer::null_value() {
    before_value();
    out_ += "null";
}

void Writer::bool_value(bool b) {
    before_value();
    out_ += b ? "true" : "false";
}

void Writer::string_value(std::string_view s) {
    before_value();
    append_quoted(out_, s);
}

void Writer::u64_value(uint64_t v) {
    before_value();
    append_u64(out_, v);
}

void Writer::i64_value(int64_t v) {
    before_value();
    append_i64(out_, v);
}

void Writer::value(const Value& v) {
    before_value();
    if (indent_ >= 0)
        write_pretty(out_, v, indent_, static_cast<int>(has_items_.size()));
    else
        write_compact(out_, v);
}

void Writer::string_list_member(std::string_view k, const std::vector<std::string>& items) {
    key(k);
    begin_array();
    for (const std::string& item : items)
        string_value(item);
    end_array();
}

} // namespace vok::json
