// Reading values out of lexical pairs; see token_readers.h. String escapes are decoded by the
// JSON reader (they share their syntax); decimals are read exactly by Decimal::parse.
#include "parser/token_readers.h"

#include <charconv>
#include <cmath>

#include "common/deep_recursion.h"
#include "common/unicode_case.h"
#include "json/deserializer.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok {

std::string pair_text(const grammar::DslPair& pair) {
    return std::string(pair.as_str());
}

std::string pair_text_lowercased(const grammar::DslPair& pair) {
    return lowercase_text(pair.as_str());
}

ParseResult<std::string> build_name(const grammar::DslPair& pair) {
    auto child = pair.children().peek();
    if (!child)
        return Err(ParserError::grammar("Expected inner token for name but got empty pair"));
    switch (child->rule()) {
    case grammar::Rule::multiline_string:
        return parse_multiline_string(*child);
    case grammar::Rule::string_literal:
        return parse_string_literal(*child);
    default:
        return Err(ParserError::grammar("Expected string or multiline string for name, got " +
                                        std::string(grammar::rule_name(child->rule()))));
    }
}

namespace {

// Decodes a complete JSON string literal (quotes included).
Result<std::string, std::string> decode_json_string(std::string_view text) {
    auto decoded = json::read_document(
        text, +[](json::Deserializer& de) { return de.read_string("a string"); });
    if (!decoded.ok()) return Err(decoded.error().to_string());
    return std::move(*decoded);
}

} // namespace

ParseResult<std::string> parse_string_literal(const grammar::DslPair& pair) {
    std::string_view text = pair.as_str();
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        // Most literals hold no escape and no control character: their text is their value.
        std::string_view body = text.substr(1, text.size() - 2);
        bool plain = true;
        for (char c : body) {
            if (c == '\\' || c == '"' || static_cast<unsigned char>(c) < 0x20) {
                plain = false;
                break;
            }
        }
        if (plain) return std::string(body);
        auto decoded = decode_json_string(text);
        if (decoded.ok()) return std::move(*decoded);
        return Err(ParserError::grammar("Invalid string literal escape sequences: " +
                                        std::string(text) + " - " + decoded.error()));
    }
    return Err(ParserError::grammar("Invalid string literal: " + std::string(text)));
}

ParseResult<std::string> parse_multiline_string(const grammar::DslPair& pair) {
    std::string_view text = pair.as_str();
    if (text.size() < 6 || text.substr(0, 3) != "\"\"\"" ||
        text.substr(text.size() - 3) != "\"\"\"")
        return Err(ParserError::grammar("Invalid multiline string: " + std::string(text)));
    std::string_view body = text.substr(3, text.size() - 6);
    std::string literal = "\"";
    for (char c : body) {
        switch (c) {
        case '\\':
            literal += "\\\\";
            break;
        case '"':
            literal += "\\\"";
            break;
        case '\n':
            literal += "\\n";
            break;
        case '\r':
            literal += "\\r";
            break;
        case '\t':
            literal += "\\t";
            break;
        default:
            literal += c;
        }
    }
    literal += '"';
    auto decoded = decode_json_string(literal);
    if (decoded.ok()) return std::move(*decoded);
    return Err(ParserError::grammar("Invalid multiline string escape sequences in '" +
                                    std::string(text) + "': " + decoded.error()));
}

namespace {

template <class Int> bool parse_signed(std::string_view text, Int& out) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+')) return false;
    }
    if (text.empty()) return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), out);
    return res.ec == std::errc() && res.ptr == text.data() + text.size() &&
           !(text.front() == '-' && text.size() == 1);
}

} // namespace

ParseResult<int32_t> parse_number(const grammar::DslPair& pair) {
    int32_t v = 0;
    if (!parse_signed(pair.as_str(), v))
        return Err(ParserError::invalid_quantity("Invalid number: " + pair_text(pair)));
    return v;
}

ParseResult<int64_t> parse_integer(const grammar::DslPair& pair) {
    int64_t v = 0;
    if (!parse_signed(pair.as_str(), v))
        return Err(ParserError::grammar("Invalid integer: " + pair_text(pair)));
    return v;
}

ParseResult<Decimal> parse_decimal(const grammar::DslPair& pair) {
    auto d = Decimal::parse(pair.as_str());
    if (!d.ok()) return Err(ParserError::invalid_quantity("Invalid decimal: " + pair_text(pair)));
    return *d;
}

ParseResult<double> decimal_to_finite_f64(const Decimal& d, bool with_value_in_message) {
    double v = d.to_f64();
    if (std::isfinite(v)) return v;
    std::string message = "Decimal value " + d.to_string() + " converts to non-finite f64";
    if (with_value_in_message)
        message += std::string(": ") + (std::isnan(v) ? "NaN" : v > 0 ? "inf" : "-inf");
    return Err(ParserError::invalid_quantity(std::move(message)));
}

ParseResult<json::Value> annotation_value_to_json(const grammar::DslPair& pair) {
    switch (pair.rule()) {
    case grammar::Rule::string_array: {
        json::Array items;
        for (const grammar::DslPair& child : pair.children()) {
            VOK_ASSIGN(std::string s, parse_string_literal(child));
            items.emplace_back(std::move(s));
        }
        return json::Value(std::move(items));
    }
    case grammar::Rule::annotation_value: {
        auto child = pair.children().peek();
        if (!child) return Err(ParserError::grammar("Expected annotation value"));
        return with_stack_room([&] { return annotation_value_to_json(*child); });
    }
    case grammar::Rule::string_literal: {
        VOK_ASSIGN(std::string s, parse_string_literal(pair));
        return json::Value(std::move(s));
    }
    case grammar::Rule::number: {
        VOK_ASSIGN(Decimal d, parse_decimal(pair));
        VOK_ASSIGN(double v, decimal_to_finite_f64(d, false));
        return json::Value::from_f64(v);
    }
    case grammar::Rule::boolean:
        return json::Value(pair.as_str() == "true");
    case grammar::Rule::object_literal:
        return build_object_literal(pair);
    default:
        return Err(ParserError::grammar("Unexpected annotation value: " + pair_text(pair)));
    }
}

ParseResult<json::Value> build_object_literal(const grammar::DslPair& pair) {
    std::vector<json::Object::Entry> entries;
    grammar::DslPairs children = pair.children();
    while (auto key_pair = children.next()) {
        VOK_ASSIGN(std::string key, parse_string_literal(*key_pair));
        auto value_pair = children.next();
        if (!value_pair) return Err(ParserError::grammar("Expected value in object literal"));
        VOK_ASSIGN(json::Value value,
                   with_stack_room([&] { return annotation_value_to_json(*value_pair); }));
        entries.emplace_back(std::move(key), std::move(value));
    }
    return json::Value(json::Object::from_entries(std::move(entries)));
}

} // namespace vok
