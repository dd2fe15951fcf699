// Spelling single values as source; see source_text.h. Numbers are written with the shortest
// digits that read back to the same double (the JSON writer's number text where that holds), and
// strings escape only what the grammar's string literal requires (the JSON writer's escaping
// routine with the literal's escapes); values are walked by the JSON writer's compact walk.
#include "formatter/source_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "decimal/decimal.h"
#include "json/writer.h"

namespace vok::source_text {

void append_quoted(std::string& out, std::string_view text) {
    json::append_quoted(out, text, json::Escapes::Literal);
}

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `text` follows `pattern`, where 'd' stands for one ASCII digit.
bool follows(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (pattern[i] == 'd' ? !is_digit(text[i]) : text[i] != pattern[i]) return false;
    }
    return true;
}

// The content of a time literal: a date, "T", a time with seconds, then "Z" or an offset.
bool has_time_literal_shape(std::string_view text) {
    if (text.size() < 20 || !follows(text.substr(0, 19), "dddd-dd-ddTdd:dd:dd")) return false;
    std::string_view zone = text.substr(19);
    return zone == "Z" || follows(zone, "+dd:dd") || follows(zone, "-dd:dd");
}

} // namespace

void append_expression_string(std::string& out, std::string_view text) {
    if (has_time_literal_shape(text)) {
        out += "\"\"\"";
        out += text;
        out += "\"\"\"";
        return;
    }
    append_quoted(out, text);
}

namespace {

// Whether the parser's reading of `text` (decimal, then double) gives `value`, sign included.
bool reads_back(const std::string& text, double value) {
    auto decimal = Decimal::parse(text);
    if (!decimal.ok()) return false;
    double read = decimal->to_f64();
    return read == value && std::signbit(read) == std::signbit(value);
}

// Significant digits (no leading or trailing zeros, at least one digit) and the position of the
// decimal point counted from the first digit: the value is 0.<digits> x 10^point.
struct Digits {
    std::string digits;
    int point = 0;
};

// The shortest digits that identify the double |value|, as std::to_chars writes them.
Digits shortest_digits(double value) {
    char buffer[64];
    auto res = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                             std::chars_format::scientific);
    std::string_view text(buffer, static_cast<size_t>(res.ptr - buffer));
    size_t e = text.find('e');
    Digits d;
    for (char c : text.substr(0, e))
        if (c != '.') d.digits += c;
    d.point = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

std::string plain_text(bool negative, const Digits& d) {
    std::string out = negative ? "-" : "";
    const int n = static_cast<int>(d.digits.size());
    if (d.point >= n) {
        out += d.digits;
        out.append(static_cast<size_t>(d.point - n), '0');
    } else if (d.point > 0) {
        out.append(d.digits, 0, static_cast<size_t>(d.point));
        out += '.';
        out.append(d.digits, static_cast<size_t>(d.point));
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-d.point), '0');
        out += d.digits;
    }
    return out;
}

// |value| in fixed notation with exactly `scale` decimals, correctly rounded.
std::string fixed_text(double magnitude, int scale) {
    char buffer[128];
    auto res =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, scale);
    return res.ec == std::errc() ? std::string(buffer, res.ptr) : std::string();
}

// The parser's double for the decimal mantissa / 10^scale.
double parsed_value(unsigned __int128 mantissa, uint32_t scale) {
    auto d = Decimal::from_parts(mantissa, scale, false);
    return d ? d->to_f64() : std::numeric_limits<double>::infinity();
}

// A decimal with `scale` decimals that the parser turns into `magnitude`, found by bisection:
// the decimal-to-double conversion is monotonic in the decimal for a fixed scale, so the decimals
// that give one double form an interval. Looked for within a few units in the last place around
// the double, where the conversion's error lies.
std::optional<std::string> preimage_at_scale(double magnitude, uint32_t scale) {
    double below = magnitude;
    double above = magnitude;
    for (int i = 0; i < 16; ++i) {
        below = std::nextafter(below, 0.0);
        above = std::nextafter(above, std::numeric_limits<double>::infinity());
    }
    auto low = Decimal::parse(fixed_text(below, static_cast<int>(scale)));
    if (!low.ok() || low->scale() != scale) return std::nullopt;
    auto high = Decimal::parse(fixed_text(above, static_cast<int>(scale)));
    // Near the largest decimal the doubles above have no decimal at all: search up to it (the
    // largest decimal itself reads as 2^96).
    const unsigned __int128 largest = (static_cast<unsigned __int128>(1) << 96) - 1;
    if (high.ok() && high->scale() != scale) return std::nullopt;
    unsigned __int128 lo = low->mantissa();
    unsigned __int128 hi = high.ok() ? high->mantissa() : largest;
    if (parsed_value(lo, scale) > magnitude || parsed_value(hi, scale) < magnitude)
        return std::nullopt;
    // The smallest mantissa whose double is not below the magnitude.
    while (lo < hi) {
        unsigned __int128 mid = lo + (hi - lo) / 2;
        if (parsed_value(mid, scale) < magnitude) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (parsed_value(lo, scale) != magnitude) return std::nullopt;
    return Decimal::from_parts(lo, scale, false)->to_string();
}

} // namespace

std::string number_text(double value) {
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
    // The writer's own layout where it has no exponent ("5.0", "0.25"), so that ordinary numbers
    // look as they do everywhere else in the system.
    std::string usual = json::format_f64(value);
    if (usual.find('e') == std::string::npos && reads_back(usual, value)) return usual;

    // Otherwise the shortest plain text that converts back. The decimal-to-double conversion is
    // not correctly rounded for every input (a long decimal can land a few units in the last
    // place away from the nearest double), so after the shortest round-trip digits come the
    // decimals of every scale, nearest first.
    const bool negative = std::signbit(value);
    const std::string sign = negative ? "-" : "";
    const double magnitude = std::fabs(value);
    std::string first = plain_text(negative, shortest_digits(value));
    if (reads_back(first, value)) return first;
    for (uint32_t scale = 0; scale <= Decimal::kMaxScale; ++scale) {
        std::string text = sign + fixed_text(magnitude, static_cast<int>(scale));
        if (reads_back(text, value)) return text;
        if (auto found = preimage_at_scale(magnitude, scale)) return sign + *found;
    }
    return first;
}

namespace {

void append_number(std::string& out, const json::Number& n) {
    switch (n.kind()) {
    case json::Number::Kind::U64:
        out += std::to_string(n.as_u64());
        break;
    case json::Number::Kind::I64:
        out += std::to_string(n.as_i64());
        break;
    case json::Number::Kind::F64:
        out += number_text(n.as_f64_raw());
        break;
    }
}

} // namespace

namespace {

// Texts as string literals, numbers as number_text.
struct SourceSpelling {
    void text(std::string& out, std::string_view s) const { append_quoted(out, s); }
    void number(std::string& out, const json::Number& n) const { append_number(out, n); }
};

} // namespace

void append_value(std::string& out, const json::Value& value) {
    json::write_compact_as(out, value, SourceSpelling{});
}

void append_property_mapping(std::string& out, const json::Object& mapping) {
    out += "{ ";
    bool first = true;
    for (const auto& [source, target] : mapping) {
        if (!first) out += ", ";
        first = false;
        append_quoted(out, source);
        out += " -> ";
        if (target.is_string()) {
            append_quoted(out, target.as_string());
        } else {
            append_value(out, target);
        }
    }
    out += " }";
}

std::string identifier_for_key(std::string_view key) {
    // Lowercasing is one-to-one on identifier characters except for one letter: capital I with dot
    // above becomes "i" and a combining dot, which is no identifier character. Any such pair in a
    // key came from that capital, so writing the capital gives the same key back.
    static constexpr std::string_view kLoweredDottedI = "i\xCC\x87";
    static constexpr std::string_view kDottedCapitalI = "\xC4\xB0";
    std::string out;
    out.reserve(key.size());
    size_t i = 0;
    while (i < key.size()) {
        if (key.substr(i).starts_with(kLoweredDottedI)) {
            out += kDottedCapitalI;
            i += kLoweredDottedI.size();
        } else {
            out += key[i++];
        }
    }
    return out;
}

} // namespace vok::source_text
