// The streaming reader over JSON text; see text_deserializer.h. A hand-written byte scanner:
// positions are computed only when an error needs them, strings are unescaped and UTF-8 checked in
// one pass, generic values are built on explicit stacks rather than by recursion, and nesting is
// bounded by a depth limit.
#include "json/text_deserializer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/hex.h"
#include "common/utf8.h"

namespace vok::json {

namespace {

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

Unexpected unexpected_number(const Number& n) {
    switch (n.kind()) {
    case Number::Kind::U64:
        return Unexpected::unsigned_int(n.as_u64());
    case Number::Kind::I64:
        return Unexpected::signed_int(n.as_i64());
    case Number::Kind::F64:
        return Unexpected::floating(n.as_f64_raw());
    }
    return Unexpected::null();
}

} // namespace

// ---- positions ----

Error TextDeserializer::error_at(size_t index, std::string message) const {
    const char* begin = text_.data();
    size_t start_of_line = 0;
    for (size_t i = index; i > 0; --i) {
        if (begin[i - 1] == '\n') {
            start_of_line = i;
            break;
        }
    }
    size_t line = 1 + static_cast<size_t>(std::count(begin, begin + start_of_line, '\n'));
    return Error(std::move(message), static_cast<uint32_t>(line),
                 static_cast<uint32_t>(index - start_of_line));
}

Error TextDeserializer::error(ErrorCode code) const {
    return error_at(std::min(index_, text_.size()), std::string(error_code_text(code)));
}

Error TextDeserializer::peek_error(ErrorCode code) const {
    return error_at(std::min(index_ + 1, text_.size()), std::string(error_code_text(code)));
}

Error TextDeserializer::fix_position(Error e) const {
    if (e.has_position()) return e;
    Error located = error_at(std::min(index_, text_.size()), e.message());
    return located;
}

Error TextDeserializer::positioned(Error e) {
    return fix_position(std::move(e));
}

// ---- syntax layer ----

int TextDeserializer::parse_whitespace() {
    while (index_ < text_.size()) {
        char c = text_[index_];
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
        ++index_;
    }
    return -1;
}

Status TextDeserializer::parse_ident(std::string_view rest) {
    for (char expected : rest) {
        if (at_end()) return Err(error(ErrorCode::EofWhileParsingValue));
        char c = text_[index_++];
        if (c != expected) return Err(error(ErrorCode::ExpectedSomeIdent));
    }
    return Ok();
}

Status TextDeserializer::parse_object_colon() {
    int c = parse_whitespace();
    if (c == ':') {
        ++index_;
        return Ok();
    }
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingObject));
    return Err(peek_error(ErrorCode::ExpectedColon));
}

Status TextDeserializer::prepare_value() {
    if (!pending_colon_) return Ok();
    pending_colon_ = false;
    return parse_object_colon();
}

Result<uint16_t, Error> TextDeserializer::decode_hex_escape() {
    if (text_.size() - index_ < 4) {
        index_ = text_.size();
        return Err(error(ErrorCode::EofWhileParsingString));
    }
    uint16_t v = 0;
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
        int h = hex_value(text_[index_ + static_cast<size_t>(i)]);
        if (h < 0) ok = false;
        v = static_cast<uint16_t>((v << 4) | (h & 0xF));
    }
    index_ += 4;
    if (!ok) return Err(error(ErrorCode::InvalidEscape));
    return v;
}

Status TextDeserializer::parse_escape(std::string& out, bool validate) {
    if (at_end()) return Err(error(ErrorCode::EofWhileParsingString));
    char c = text_[index_++];
    switch (c) {
    case '"':
        out += '"';
        return Ok();
    case '\\':
        out += '\\';
        return Ok();
    case '/':
        out += '/';
        return Ok();
    case 'b':
        out += '\b';
        return Ok();
    case 'f':
        out += '\f';
        return Ok();
    case 'n':
        out += '\n';
        return Ok();
    case 'r':
        out += '\r';
        return Ok();
    case 't':
        out += '\t';
        return Ok();
    case 'u':
        break;
    default:
        return Err(error(ErrorCode::InvalidEscape));
    }
    VOK_ASSIGN(uint16_t n, decode_hex_escape());
    if (!validate) {
        // Skipping a value: the escape only has to be well formed.
        return Ok();
    }
    if (n >= 0xDC00 && n <= 0xDFFF) return Err(error(ErrorCode::LoneLeadingSurrogateInHexEscape));
    if (n < 0xD800 || n > 0xDBFF) {
        append_utf8(out, n);
        return Ok();
    }
    // A leading surrogate must be followed by an escaped trailing one.
    for (char expected : {'\\', 'u'}) {
        if (at_end()) return Err(error(ErrorCode::EofWhileParsingString));
        char next = text_[index_++];
        if (next != expected) return Err(error(ErrorCode::UnexpectedEndOfHexEscape));
    }
    VOK_ASSIGN(uint16_t n2, decode_hex_escape());
    if (n2 < 0xDC00 || n2 > 0xDFFF) return Err(error(ErrorCode::LoneLeadingSurrogateInHexEscape));
    uint32_t cp = ((static_cast<uint32_t>(n - 0xD800) << 10) | (n2 - 0xDC00u)) + 0x10000u;
    append_utf8(out, cp);
    return Ok();
}

Result<std::string, Error> TextDeserializer::parse_str() {
    std::string out;
    VOK_TRY(parse_str_into(out));
    return out;
}

Status TextDeserializer::parse_str_into(std::string& out) {
    const auto* data = reinterpret_cast<const unsigned char*>(text_.data());
    const size_t size = text_.size();
    while (true) {
        size_t run_start = index_;
        // Skip eight plain ASCII bytes at a time: no quote, backslash, control or non-ASCII byte.
        while (index_ + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + index_, 8);
            constexpr uint64_t kOnes = 0x0101010101010101ull;
            constexpr uint64_t kHigh = 0x8080808080808080ull;
            uint64_t quote = word ^ (kOnes * '"');
            uint64_t backslash = word ^ (kOnes * '\\');
            uint64_t special = ((quote - kOnes) & ~quote) | ((backslash - kOnes) & ~backslash) |
                               (word - kOnes * 0x20) | word;
            if (special & kHigh) break;
            index_ += 8;
        }
        while (index_ < size) {
            unsigned char c = data[index_];
            if (c == '"' || c == '\\' || c < 0x20) break;
            if (c < 0x80) {
                ++index_;
                continue;
            }
            size_t len = utf8_sequence_length(data + index_, data + size);
            if (len == 0) {
                ++index_;
                return Err(error(ErrorCode::InvalidUnicodeCodePoint));
            }
            index_ += len;
        }
        out.append(text_.data() + run_start, index_ - run_start);
        if (index_ == size) return Err(error(ErrorCode::EofWhileParsingString));
        unsigned char c = data[index_];
        if (c == '"') {
            ++index_;
            return Ok();
        }
        if (c == '\\') {
            ++index_;
            VOK_TRY(parse_escape(out, true));
            continue;
        }
        ++index_;
        return Err(error(ErrorCode::ControlCharacterWhileParsingString));
    }
}

Status TextDeserializer::ignore_str() {
    std::string scratch;
    while (true) {
        while (index_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[index_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++index_;
        }
        if (index_ == text_.size()) return Err(error(ErrorCode::EofWhileParsingString));
        char c = text_[index_];
        if (c == '"') {
            ++index_;
            return Ok();
        }
        if (c == '\\') {
            ++index_;
            VOK_TRY(parse_escape(scratch, false));
            scratch.clear();
            continue;
        }
        return Err(error(ErrorCode::ControlCharacterWhileParsingString));
    }
}

// Reads the digits of an integer (after an optional '-' already consumed) and whatever fraction
// and exponent follow. Integers that fit keep an integer form; everything else becomes a double.
Result<Number, Error> TextDeserializer::parse_integer(bool positive) {
    const size_t start = positive ? index_ : index_ - 1;
    if (at_end()) return Err(error(ErrorCode::EofWhileParsingValue));
    char c = text_[index_++];
    if (c == '0') {
        if (is_digit(peek())) return Err(peek_error(ErrorCode::InvalidNumber));
        return parse_number_tail(positive, 0, false, start);
    }
    if (c < '1' || c > '9') return Err(error(ErrorCode::InvalidNumber));
    uint64_t significand = static_cast<uint64_t>(c - '0');
    bool overflowed = false;
    while (is_digit(peek())) {
        uint64_t digit = static_cast<uint64_t>(text_[index_] - '0');
        if (!overflowed && significand > (UINT64_MAX - digit) / 10) overflowed = true;
        if (!overflowed) significand = significand * 10 + digit;
        ++index_;
    }
    return parse_number_tail(positive, significand, overflowed, start);
}

Result<Number, Error> TextDeserializer::parse_number_tail(bool positive, uint64_t significand,
                                                          bool overflowed, size_t start) {
    const size_t digits_end = index_;
    int c = peek();
    if (c == '.') {
        ++index_;
        bool any_digit = false;
        while (is_digit(peek()))
            ++index_, any_digit = true;
        if (!any_digit) {
            if (at_end()) return Err(peek_error(ErrorCode::EofWhileParsingValue));
            return Err(peek_error(ErrorCode::InvalidNumber));
        }
        c = peek();
    }
    if (c == 'e' || c == 'E') {
        ++index_;
        int sign = peek();
        if (sign == '+' || sign == '-') ++index_;
        if (at_end()) return Err(error(ErrorCode::EofWhileParsingValue));
        char d = text_[index_++];
        if (!is_digit(static_cast<unsigned char>(d))) return Err(error(ErrorCode::InvalidNumber));
        while (is_digit(peek()))
            ++index_;
    }
    if (index_ == digits_end && !overflowed) {
        if (positive) return Number::from_u64(significand);
        if (significand == 0) return Number::from_f64(-0.0);
        if (significand <= uint64_t{1} << 63)
            return Number::from_i64(static_cast<int64_t>(0 - significand));
        return Number::from_f64(-static_cast<double>(significand));
    }
    VOK_ASSIGN(double v, parse_float_text(start));
    return Number::from_f64(v);
}

Result<double, Error> TextDeserializer::parse_float_text(size_t start) {
    const char* first = text_.data() + start;
    const char* last = text_.data() + index_;
    double v = 0;
    auto res = std::from_chars(first, last, v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Overflow is an error, underflow reads as zero: tell them apart by the decimal exponent
        // of the first significant digit.
        std::string_view s(first, static_cast<size_t>(last - first));
        const bool negative = !s.empty() && s[0] == '-';
        if (negative) s.remove_prefix(1);
        // Exponents are saturated far beyond any double (and far below where adding a digit count
        // to them could overflow): a huge positive one is out of range, a huge negative one zero.
        constexpr long long kFarBeyondAnyDouble = 1000000;
        long long exponent = 0;
        size_t e = s.find_first_of("eE");
        if (e != std::string_view::npos) {
            std::string_view digits = s.substr(e + 1);
            bool exp_negative = !digits.empty() && digits[0] == '-';
            if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
            auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
            if (parsed.ec != std::errc() || exponent > kFarBeyondAnyDouble)
                exponent = kFarBeyondAnyDouble;
            if (exp_negative) exponent = -exponent;
            s = s.substr(0, e);
        }
        size_t point = s.find('.');
        std::string_view int_part = s.substr(0, point);
        size_t lead = int_part.find_first_not_of('0');
        long long magnitude;
        if (lead != std::string_view::npos) {
            magnitude = static_cast<long long>(int_part.size() - lead);
        } else {
            std::string_view frac =
                point == std::string_view::npos ? std::string_view() : s.substr(point + 1);
            size_t nz = frac.find_first_not_of('0');
            magnitude =
                nz == std::string_view::npos ? -kFarBeyondAnyDouble : -static_cast<long long>(nz);
        }
        if (exponent + magnitude > 0) return Err(error(ErrorCode::NumberOutOfRange));
        return negative ? -0.0 : 0.0;
    }
    if (res.ec != std::errc() || std::isinf(v)) return Err(error(ErrorCode::NumberOutOfRange));
    return v;
}

Status TextDeserializer::ignore_integer() {
    if (at_end()) return Err(error(ErrorCode::InvalidNumber));
    char c = text_[index_++];
    if (c == '0') {
        if (is_digit(peek())) return Err(peek_error(ErrorCode::InvalidNumber));
    } else if (c >= '1' && c <= '9') {
        while (is_digit(peek()))
            ++index_;
    } else {
        return Err(error(ErrorCode::InvalidNumber));
    }
    int next = peek();
    if (next == '.') {
        ++index_;
        bool any_digit = false;
        while (is_digit(peek()))
            ++index_, any_digit = true;
        if (!any_digit) return Err(peek_error(ErrorCode::InvalidNumber));
        next = peek();
    }
    if (next == 'e' || next == 'E') {
        ++index_;
        int sign = peek();
        if (sign == '+' || sign == '-') ++index_;
        if (at_end() || !is_digit(static_cast<unsigned char>(text_[index_]))) {
            if (!at_end()) ++index_;
            return Err(error(ErrorCode::InvalidNumber));
        }
        while (is_digit(peek()))
            ++index_;
    }
    return Ok();
}

Status TextDeserializer::enter_level() {
    if (--remaining_depth_ == 0) return Err(peek_error(ErrorCode::RecursionLimitExceeded));
    return Ok();
}

Status TextDeserializer::end_seq() {
    int c = parse_whitespace();
    if (c == ']') {
        ++index_;
        return Ok();
    }
    if (c == ',') {
        ++index_;
        if (parse_whitespace() == ']') return Err(peek_error(ErrorCode::TrailingComma));
        return Err(peek_error(ErrorCode::TrailingCharacters));
    }
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingList));
    return Err(peek_error(ErrorCode::TrailingCharacters));
}

Status TextDeserializer::end_map() {
    int c = parse_whitespace();
    if (c == '}') {
        ++index_;
        return Ok();
    }
    if (c == ',') return Err(peek_error(ErrorCode::TrailingComma));
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingObject));
    return Err(peek_error(ErrorCode::TrailingCharacters));
}

Error TextDeserializer::peek_invalid_type(std::string_view expecting) {
    int c = parse_whitespace();
    Error err;
    switch (c) {
    case 'n': {
        ++index_;
        auto ident = parse_ident("ull");
        if (!ident.ok()) return std::move(ident).error();
        err = invalid_type(Unexpected::null(), expecting);
        break;
    }
    case 't':
    case 'f': {
        ++index_;
        auto ident = parse_ident(c == 't' ? "rue" : "alse");
        if (!ident.ok()) return std::move(ident).error();
        err = invalid_type(Unexpected::boolean(c == 't'), expecting);
        break;
    }
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
        if (c == '-') ++index_;
        auto n = parse_integer(c != '-');
        if (!n.ok()) return std::move(n).error();
        err = invalid_type(unexpected_number(*n), expecting);
        break;
    }
    case '"': {
        ++index_;
        auto s = parse_str();
        if (!s.ok()) return std::move(s).error();
        err = invalid_type(Unexpected::str(*s), expecting);
        break;
    }
    case '[':
        err = invalid_type(Unexpected::seq(), expecting);
        break;
    case '{':
        err = invalid_type(Unexpected::map(), expecting);
        break;
    default:
        return peek_error(ErrorCode::ExpectedSomeValue);
    }
    return fix_position(std::move(err));
}

// Steps to the next item of an open array or object, past the comma that must separate it from
// the item before. Returns the byte the item starts with, or `close` at the container's end.
[[gnu::always_inline]] inline Result<int, Error>
TextDeserializer::next_item(bool& first, char close, ErrorCode comma_or_end,
                            ErrorCode eof_in_container) {
    poller_.poll();
    int c = parse_whitespace();
    if (c == close) return c;
    if (c == ',' && !first) {
        ++index_;
        c = parse_whitespace();
    } else if (c != -1) {
        if (!first) return Err(peek_error(comma_or_end));
        first = false;
    } else {
        return Err(peek_error(eof_in_container));
    }
    if (c == close) return Err(peek_error(ErrorCode::TrailingComma));
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    return c;
}

// Reads a value into `out` (which must be null on entry) in place: no intermediate copies of
// strings, arrays or objects.
Status TextDeserializer::parse_value_into(Value& out) {
    int c = parse_whitespace();
    switch (c) {
    case -1:
        return Err(peek_error(ErrorCode::EofWhileParsingValue));
    case 'n':
        ++index_;
        VOK_TRY(parse_ident("ull"));
        return Ok();
    case 't':
        ++index_;
        VOK_TRY(parse_ident("rue"));
        out.emplace_bool(true);
        return Ok();
    case 'f':
        ++index_;
        VOK_TRY(parse_ident("alse"));
        out.emplace_bool(false);
        return Ok();
    case '-': {
        ++index_;
        VOK_ASSIGN(Number n, parse_integer(false));
        out.emplace_number(n);
        return Ok();
    }
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
        VOK_ASSIGN(Number n, parse_integer(true));
        out.emplace_number(n);
        return Ok();
    }
    case '"':
        ++index_;
        return parse_str_into(out.emplace_string());
    case '[': {
        VOK_TRY(enter_level());
        ++index_;
        const size_t base = value_stack_.size();
        bool first = true;
        while (true) {
            VOK_ASSIGN(int next, next_item(first, ']', ErrorCode::ExpectedListCommaOrEnd,
                                           ErrorCode::EofWhileParsingList));
            if (next == ']') break;
            Value item;
            VOK_TRY(parse_value_into(item));
            value_stack_.push_back(std::move(item));
        }
        leave_level();
        VOK_TRY(end_seq());
        Array& items = out.emplace_array();
        items.assign(std::make_move_iterator(value_stack_.begin() + static_cast<ptrdiff_t>(base)),
                     std::make_move_iterator(value_stack_.end()));
        value_stack_.resize(base);
        return Ok();
    }
    case '{': {
        VOK_TRY(enter_level());
        ++index_;
        const size_t base = entry_stack_.size();
        bool first = true;
        bool sorted_unique = true;
        while (true) {
            VOK_ASSIGN(int next, next_item(first, '}', ErrorCode::ExpectedObjectCommaOrEnd,
                                           ErrorCode::EofWhileParsingObject));
            if (next == '}') break;
            if (next != '"') return Err(peek_error(ErrorCode::KeyMustBeAString));
            ++index_;
            // The key is read in place; the value goes through a local because reading it may
            // grow the stack (nested objects) and move the entry.
            const size_t at = entry_stack_.size();
            std::string& key = entry_stack_.emplace_back().first;
            VOK_TRY(parse_str_into(key));
            if (at > base && sorted_unique) {
                const std::string& previous = entry_stack_[at - 1].first;
                sorted_unique = !previous.empty() && !key.empty() && previous[0] != key[0]
                                    ? static_cast<unsigned char>(previous[0]) <
                                          static_cast<unsigned char>(key[0])
                                    : previous < key;
            }
            VOK_TRY(parse_object_colon());
            Value value;
            VOK_TRY(parse_value_into(value));
            entry_stack_[at].second = std::move(value);
        }
        leave_level();
        VOK_TRY(end_map());
        std::vector<Object::Entry> entries(
            std::make_move_iterator(entry_stack_.begin() + static_cast<ptrdiff_t>(base)),
            std::make_move_iterator(entry_stack_.end()));
        entry_stack_.resize(base);
        out.emplace_object() = sorted_unique
                                   ? Object::from_sorted_unique_entries(std::move(entries))
                                   : Object::from_entries(std::move(entries));
        return Ok();
    }
    default:
        return Err(peek_error(ErrorCode::ExpectedSomeValue));
    }
}

// ---- Deserializer interface ----

Status TextDeserializer::finish() {
    if (parse_whitespace() != -1) return Err(peek_error(ErrorCode::TrailingCharacters));
    return Ok();
}

Result<Value, Error> TextDeserializer::read_any() {
    VOK_TRY(prepare_value());
    Value v;
    VOK_TRY(parse_value_into(v));
    return v;
}

Status TextDeserializer::skip_any() {
    VOK_TRY(prepare_value());
    // Iterative, so that a deeply nested value that nobody reads cannot exhaust the stack.
    std::vector<char> enclosing;
    while (true) {
        poller_.poll();
        int c = parse_whitespace();
        bool opened = false;
        switch (c) {
        case -1:
            return Err(peek_error(ErrorCode::EofWhileParsingValue));
        case 'n':
        case 't':
        case 'f':
            ++index_;
            VOK_TRY(parse_ident(c == 'n' ? "ull" : c == 't' ? "rue" : "alse"));
            break;
        case '-':
            ++index_;
            VOK_TRY(ignore_integer());
            break;
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            VOK_TRY(ignore_integer());
            break;
        case '"':
            ++index_;
            VOK_TRY(ignore_str());
            break;
        case '[':
        case '{':
            if (count_skipped_levels_ &&
                static_cast<int>(enclosing.size()) + 1 >= remaining_depth_) {
                return Err(peek_error(ErrorCode::RecursionLimitExceeded));
            }
            ++index_;
            enclosing.push_back(static_cast<char>(c));
            opened = true;
            break;
        default:
            return Err(peek_error(ErrorCode::ExpectedSomeValue));
        }
        if (enclosing.empty()) return Ok();
        // After a complete item (or a container just opened), close containers that end here.
        bool accept_comma = !opened;
        while (true) {
            char frame = enclosing.back();
            int next = parse_whitespace();
            if (next == ',' && accept_comma) {
                ++index_;
                break;
            }
            if ((next == ']' && frame == '[') || (next == '}' && frame == '{')) {
                ++index_;
                enclosing.pop_back();
                if (enclosing.empty()) return Ok();
                accept_comma = true;
                continue;
            }
            if (next == -1) {
                return Err(peek_error(frame == '[' ? ErrorCode::EofWhileParsingList
                                                   : ErrorCode::EofWhileParsingObject));
            }
            if (accept_comma) {
                return Err(peek_error(frame == '[' ? ErrorCode::ExpectedListCommaOrEnd
                                                   : ErrorCode::ExpectedObjectCommaOrEnd));
            }
            break;
        }
        if (enclosing.back() == '{') {
            int next = parse_whitespace();
            if (next == -1) return Err(peek_error(ErrorCode::EofWhileParsingObject));
            if (next != '"') return Err(peek_error(ErrorCode::KeyMustBeAString));
            ++index_;
            VOK_TRY(ignore_str());
            next = parse_whitespace();
            if (next == -1) return Err(peek_error(ErrorCode::EofWhileParsingObject));
            if (next != ':') return Err(peek_error(ErrorCode::ExpectedColon));
            ++index_;
        }
    }
}

Result<std::string, Error> TextDeserializer::read_string(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '"') return Err(peek_invalid_type(expecting));
    ++index_;
    return parse_str();
}

Result<bool, Error> TextDeserializer::read_bool(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c == 't' || c == 'f') {
        ++index_;
        VOK_TRY(parse_ident(c == 't' ? "rue" : "alse"));
        return c == 't';
    }
    return Err(peek_invalid_type(expecting));
}

Result<uint64_t, Error> TextDeserializer::read_unsigned(std::string_view type_name, uint64_t max) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '-' && !is_digit(c)) return Err(peek_invalid_type(type_name));
    if (c == '-') ++index_;
    VOK_ASSIGN(Number n, parse_integer(c != '-'));
    switch (n.kind()) {
    case Number::Kind::U64:
        if (n.as_u64() <= max) return n.as_u64();
        return Err(fix_position(invalid_value(Unexpected::unsigned_int(n.as_u64()), type_name)));
    case Number::Kind::I64:
        return Err(fix_position(invalid_value(Unexpected::signed_int(n.as_i64()), type_name)));
    case Number::Kind::F64:
        return Err(fix_position(invalid_type(Unexpected::floating(n.as_f64_raw()), type_name)));
    }
    return Err(error(ErrorCode::InvalidNumber));
}

Result<int64_t, Error> TextDeserializer::read_signed(std::string_view type_name, int64_t min,
                                                     int64_t max) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '-' && !is_digit(c)) return Err(peek_invalid_type(type_name));
    if (c == '-') ++index_;
    VOK_ASSIGN(Number n, parse_integer(c != '-'));
    switch (n.kind()) {
    case Number::Kind::U64:
        if (n.as_u64() <= static_cast<uint64_t>(max)) return static_cast<int64_t>(n.as_u64());
        return Err(fix_position(invalid_value(Unexpected::unsigned_int(n.as_u64()), type_name)));
    case Number::Kind::I64:
        if (n.as_i64() >= min && n.as_i64() <= max) return n.as_i64();
        return Err(fix_position(invalid_value(Unexpected::signed_int(n.as_i64()), type_name)));
    case Number::Kind::F64:
        return Err(fix_position(invalid_type(Unexpected::floating(n.as_f64_raw()), type_name)));
    }
    return Err(error(ErrorCode::InvalidNumber));
}

Result<Value, Error> TextDeserializer::read_scalar(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == '[' || c == '{') {
        VOK_TRY(enter_level());
        ++index_;
        Error err = invalid_type(c == '[' ? Unexpected::seq() : Unexpected::map(), expecting);
        leave_level();
        (void)(c == '[' ? end_seq() : end_map());
        return Err(fix_position(std::move(err)));
    }
    Value v;
    VOK_TRY(parse_value_into(v));
    return v;
}

Status TextDeserializer::read_unit() {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c == 'n') {
        ++index_;
        return parse_ident("ull");
    }
    return Err(peek_invalid_type("unit"));
}

Result<bool, Error> TextDeserializer::read_none() {
    VOK_TRY(prepare_value());
    if (parse_whitespace() != 'n') return false;
    ++index_;
    VOK_TRY(parse_ident("ull"));
    return true;
}

Result<Form, Error> TextDeserializer::begin_struct(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '[' && c != '{') return Err(peek_invalid_type(expecting));
    VOK_TRY(enter_level());
    ++index_;
    Form form = c == '[' ? Form::Seq : Form::Map;
    frames_.push_back({form});
    return form;
}

Status TextDeserializer::begin_seq(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '[') return Err(peek_invalid_type(expecting));
    VOK_TRY(enter_level());
    ++index_;
    frames_.push_back({Form::Seq});
    return Ok();
}

Status TextDeserializer::begin_map(std::string_view expecting) {
    VOK_TRY(prepare_value());
    int c = parse_whitespace();
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    if (c != '{') return Err(peek_invalid_type(expecting));
    VOK_TRY(enter_level());
    ++index_;
    frames_.push_back({Form::Map});
    return Ok();
}

Result<std::optional<std::string>, Error> TextDeserializer::next_key() {
    VOK_ASSIGN(int c, next_item(frames_.back().first, '}', ErrorCode::ExpectedObjectCommaOrEnd,
                                ErrorCode::EofWhileParsingObject));
    if (c == '}') return std::optional<std::string>();
    if (c != '"') return Err(peek_error(ErrorCode::KeyMustBeAString));
    ++index_;
    VOK_ASSIGN(std::string key, parse_str());
    pending_colon_ = true;
    return std::optional<std::string>(std::move(key));
}

Result<bool, Error> TextDeserializer::next_element() {
    VOK_ASSIGN(int c, next_item(frames_.back().first, ']', ErrorCode::ExpectedListCommaOrEnd,
                                ErrorCode::EofWhileParsingList));
    return c != ']';
}

Status TextDeserializer::end(Form form, Status visited) {
    frames_.pop_back();
    pending_colon_ = false;
    leave_level();
    Status closing = form == Form::Seq ? end_seq() : end_map();
    if (!visited.ok()) return Err(fix_position(std::move(visited).error()));
    return closing;
}

Result<EnumTag, Error> TextDeserializer::begin_enum(std::span<const std::string_view> variants) {
    VOK_TRY(prepare_value());
    auto identify = [&](const std::string& name) -> Result<size_t, Error> {
        for (size_t i = 0; i < variants.size(); ++i)
            if (variants[i] == name) return i;
        return Err(fix_position(unknown_variant(name, variants)));
    };
    int c = parse_whitespace();
    if (c == '"') {
        ++index_;
        VOK_ASSIGN(std::string name, parse_str());
        VOK_ASSIGN(size_t variant, identify(name));
        return EnumTag{variant, EnumForm::Bare};
    }
    if (c == '{') {
        VOK_TRY(enter_level());
        ++index_;
        int k = parse_whitespace();
        if (k == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
        if (k != '"') return Err(peek_invalid_type("variant identifier"));
        ++index_;
        VOK_ASSIGN(std::string name, parse_str());
        VOK_ASSIGN(size_t variant, identify(name));
        VOK_TRY(parse_object_colon());
        return EnumTag{variant, EnumForm::Tagged};
    }
    if (c == -1) return Err(peek_error(ErrorCode::EofWhileParsingValue));
    return Err(peek_error(ErrorCode::ExpectedSomeValue));
}

Status TextDeserializer::end_enum(EnumForm form, Status content) {
    if (form == EnumForm::Bare) return content;
    leave_level();
    VOK_TRY(std::move(content));
    int c = parse_whitespace();
    if (c == '}') {
        ++index_;
        return Ok();
    }
    if (c == -1) return Err(error(ErrorCode::EofWhileParsingObject));
    return Err(error(ErrorCode::ExpectedSomeValue));
}

Result<Value, Error> parse(std::string_view text) {
    TextDeserializer de(text);
    VOK_ASSIGN(Value v, de.read_any());
    VOK_TRY(de.finish());
    return v;
}

} // namespace vok::json
