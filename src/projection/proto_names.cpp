// The two name conversions; Unicode properties and case mappings come from
// common/unicode_properties.h.
#include "projection/proto_names.h"

#include <array>
#include <vector>

#include "common/ascii.h"
#include "common/unicode_properties.h"
#include "common/utf8.h"

namespace vok::projection {

namespace {

constexpr std::string_view kUnnamed = "VokUnnamed";
constexpr std::string_view kPrefix = "Vok";

// Words that would collide with the grammar or the scalar types when used as a type name.
constexpr std::array<std::string_view, 22> kReservedWords = {
    "syntax",  "package", "message",  "service", "rpc",    "enum",  "import", "option",
    "returns", "stream",  "reserved", "bool",    "string", "bytes", "double", "float",
    "int32",   "int64",   "uint32",   "uint64",  "true",   "false",
};

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_reserved_word(std::string_view name) {
    for (std::string_view word : kReservedWords) {
        if (equals_ignoring_ascii_case(name, word)) return true;
    }
    return false;
}

// The character at `pos` of UTF-8 `text`, `pos` moved past it. A byte that starts no valid
// sequence is read alone, as U+FFFD, which is neither alphanumeric nor upper-case: it separates
// pieces like punctuation.
char32_t next_code_point(std::string_view text, size_t& pos) {
    const DecodedChar decoded = decode_utf8(text, pos);
    pos += decoded.length;
    return decoded.code_point == kInvalidCodePoint ? 0xFFFD
                                                   : static_cast<char32_t>(decoded.code_point);
}

// Each maximal run of alphanumeric characters, its first character upper-cased (fully, so it may
// grow), the rest kept as written; the runs joined.
std::string capitalised_pieces(std::string_view name) {
    std::string joined;
    joined.reserve(name.size());
    bool in_piece = false;
    size_t pos = 0;
    while (pos < name.size()) {
        const size_t start = pos;
        const char32_t code_point = next_code_point(name, pos);
        if (!is_alphanumeric(code_point)) {
            in_piece = false;
            continue;
        }
        if (in_piece) {
            joined.append(name.substr(start, pos - start));
        } else {
            append_uppercase(joined, code_point);
            in_piece = true;
        }
    }
    return joined;
}

} // namespace

std::string to_proto_type_name(std::string_view name) {
    const std::string joined = capitalised_pieces(name);
    if (joined.empty()) return std::string(kUnnamed);

    std::string result;
    result.reserve(joined.size() + kPrefix.size() * 2);
    if (!is_ascii_letter(joined.front()) && joined.front() != '_') result += kPrefix;
    for (char c : joined) {
        if (is_ascii_letter(c) || is_ascii_digit(c) || c == '_') result += c;
    }
    if (result.empty()) return std::string(kUnnamed);
    if (is_reserved_word(result)) result.insert(0, kPrefix);
    return result;
}

std::string to_proto_field_name(std::string_view key) {
    std::string out;
    out.reserve(key.size() + key.size() / 2);
    bool previous_upper = false;
    size_t pos = 0;
    while (pos < key.size()) {
        const size_t start = pos;
        const char32_t code_point = next_code_point(key, pos);
        // U+0080 to U+00BF hold no capitals; from U+00C0 on the Unicode property decides.
        const bool upper = code_point < 0x80 ? (code_point >= 'A' && code_point <= 'Z')
                                             : code_point >= 0xC0 && is_uppercase(code_point);
        if (upper) {
            if (start != 0 && !previous_upper) out += '_';
            append_utf8(out, lowercase_first(code_point));
            previous_upper = true;
        } else if (is_alphanumeric(code_point)) {
            out.append(key.substr(start, pos - start));
            previous_upper = false;
        } else {
            previous_upper = false;
            if (!out.empty() && out.back() != '_') out += '_';
        }
    }
    const size_t first = out.find_first_not_of('_');
    if (first == std::string::npos) return {};
    const size_t last = out.find_last_not_of('_');
    return out.substr(first, last - first + 1);
}

} // namespace vok::projection
