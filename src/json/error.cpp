// Message texts of the JSON reader's errors; see error.h. Every wording lives here; found values
// are shown with debug_quote and the JSON writer.
#include "json/error.h"

#include "common/debug_quote.h"
#include "json/value.h"
#include "json/writer.h"

namespace vok::json {

std::string_view error_code_text(ErrorCode code) {
    switch (code) {
    case ErrorCode::EofWhileParsingList:
        return "EOF while parsing a list";
    case ErrorCode::EofWhileParsingObject:
        return "EOF while parsing an object";
    case ErrorCode::EofWhileParsingString:
        return "EOF while parsing a string";
    case ErrorCode::EofWhileParsingValue:
        return "EOF while parsing a value";
    case ErrorCode::ExpectedColon:
        return "expected `:`";
    case ErrorCode::ExpectedListCommaOrEnd:
        return "expected `,` or `]`";
    case ErrorCode::ExpectedObjectCommaOrEnd:
        return "expected `,` or `}`";
    case ErrorCode::ExpectedSomeIdent:
        return "expected ident";
    case ErrorCode::ExpectedSomeValue:
        return "expected value";
    case ErrorCode::InvalidEscape:
        return "invalid escape";
    case ErrorCode::InvalidNumber:
        return "invalid number";
    case ErrorCode::NumberOutOfRange:
        return "number out of range";
    case ErrorCode::InvalidUnicodeCodePoint:
        return "invalid unicode code point";
    case ErrorCode::ControlCharacterWhileParsingString:
        return "control character (\\u0000-\\u001F) found while parsing a string";
    case ErrorCode::KeyMustBeAString:
        return "key must be a string";
    case ErrorCode::LoneLeadingSurrogateInHexEscape:
        return "lone leading surrogate in hex escape";
    case ErrorCode::TrailingComma:
        return "trailing comma";
    case ErrorCode::TrailingCharacters:
        return "trailing characters";
    case ErrorCode::UnexpectedEndOfHexEscape:
        return "unexpected end of hex escape";
    case ErrorCode::RecursionLimitExceeded:
        return "recursion limit exceeded";
    }
    return "unknown JSON error";
}

std::string Error::to_string() const {
    if (!has_position()) return message();
    return message() + " at line " + std::to_string(line()) + " column " + std::to_string(column());
}

Unexpected Unexpected::of(const Value& v) {
    switch (v.type()) {
    case Value::Type::Null:
        return null();
    case Value::Type::Bool:
        return boolean(v.as_bool());
    case Value::Type::Number: {
        const Number& n = v.as_number();
        switch (n.kind()) {
        case Number::Kind::U64:
            return unsigned_int(n.as_u64());
        case Number::Kind::I64:
            return signed_int(n.as_i64());
        case Number::Kind::F64:
            return floating(n.as_f64_raw());
        }
        return null();
    }
    case Value::Type::String:
        return str(v.as_string());
    case Value::Type::Array:
        return seq();
    case Value::Type::Object:
        return map();
    }
    return null();
}

std::string Unexpected::to_string() const {
    switch (kind) {
    case Kind::Null:
        return "null";
    case Kind::Bool:
        return std::string("boolean `") + (b ? "true" : "false") + "`";
    case Kind::Unsigned:
        return "integer `" + std::to_string(u) + "`";
    case Kind::Signed:
        return "integer `" + std::to_string(i) + "`";
    case Kind::Float:
        return "floating point `" + format_f64(f) + "`";
    case Kind::Str:
        return "string " + debug_quoted(s);
    case Kind::Seq:
        return "sequence";
    case Kind::Map:
        return "map";
    case Kind::UnitVariant:
        return "unit variant";
    }
    return "value";
}

Error invalid_type(const Unexpected& found, std::string_view expected) {
    return Error("invalid type: " + found.to_string() + ", expected " + std::string(expected));
}

Error invalid_value(const Unexpected& found, std::string_view expected) {
    return Error("invalid value: " + found.to_string() + ", expected " + std::string(expected));
}

Error invalid_length(size_t length, std::string_view expected) {
    return Error("invalid length " + std::to_string(length) + ", expected " +
                 std::string(expected));
}

Error unknown_variant(std::string_view variant, std::span<const std::string_view> expected) {
    std::string msg = "unknown variant `" + std::string(variant) + "`, ";
    if (expected.empty()) return Error(msg + "there are no variants");
    msg += "expected ";
    auto tick = [](std::string_view name) { return "`" + std::string(name) + "`"; };
    if (expected.size() == 1) {
        msg += tick(expected[0]);
    } else if (expected.size() == 2) {
        msg += tick(expected[0]) + " or " + tick(expected[1]);
    } else {
        msg += "one of ";
        for (size_t i = 0; i < expected.size(); ++i) {
            if (i) msg += ", ";
            msg += tick(expected[i]);
        }
    }
    return Error(std::move(msg));
}

Error missing_field(std::string_view field) {
    return Error("missing field `" + std::string(field) + "`");
}

Error duplicate_field(std::string_view field) {
    return Error("duplicate field `" + std::string(field) + "`");
}

Error custom_error(std::string message) {
    return Error(std::move(message));
}

} // namespace vok::json
