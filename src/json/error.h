// Errors of reading JSON, worded as the system's JSON reader has always worded them.
//
// A message may carry a position ("... at line 3 column 7"). Errors found by the syntax layer
// always have one; errors raised by a typed reader (a missing field, a value of the wrong type) are
// made without one and receive the position of the reader at the moment the enclosing compound
// value is finished, which is where a streaming reader notices them. Errors of a record read from
// an already parsed value never carry a position.
//
// This header is the one place where the message texts live.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "common/error_variant.h"

namespace vok::json {

class Value;

// Syntax-level failures of the text reader.
enum class ErrorCode {
    EofWhileParsingList,
    EofWhileParsingObject,
    EofWhileParsingString,
    EofWhileParsingValue,
    ExpectedColon,
    ExpectedListCommaOrEnd,
    ExpectedObjectCommaOrEnd,
    ExpectedSomeIdent,
    ExpectedSomeValue,
    InvalidEscape,
    InvalidNumber,
    NumberOutOfRange,
    InvalidUnicodeCodePoint,
    ControlCharacterWhileParsingString,
    KeyMustBeAString,
    LoneLeadingSurrogateInHexEscape,
    TrailingComma,
    TrailingCharacters,
    UnexpectedEndOfHexEscape,
    RecursionLimitExceeded,
};

std::string_view error_code_text(ErrorCode code);

// One alternative: a message, with its position (line 0 when it has none). The position is part
// of the value rather than a second alternative so that an error stays as small as the reader's
// results need it to be.
struct ErrorAlternatives {
    struct Failure {
        std::string message;
        uint32_t line = 0;
        uint32_t column = 0;
        bool operator==(const Failure&) const = default;
    };
    using Variant = std::variant<Failure>;
};

struct Error : ErrorVariant<ErrorAlternatives> {
    using ErrorVariant::ErrorVariant;
    Error() : ErrorVariant(Failure{}) {}
    explicit Error(std::string message) : ErrorVariant(Failure{std::move(message)}) {}
    Error(std::string message, uint32_t line, uint32_t column)
        : ErrorVariant(Failure{std::move(message), line, column}) {}

    const std::string& message() const { return variant.message; }
    bool has_position() const { return variant.line != 0; }
    uint32_t line() const { return variant.line; }
    uint32_t column() const { return variant.column; }

    // The full text: the message, then " at line L column C" when there is a position.
    std::string to_string() const;
};
static_assert(sizeof(Error) == sizeof(ErrorAlternatives::Failure), "no room for a variant's index");

// What a reader found where it wanted something else, told the way messages tell it.
struct Unexpected {
    enum class Kind { Null, Bool, Unsigned, Signed, Float, Str, Seq, Map, UnitVariant };
    Kind kind = Kind::Null;
    bool b = false;
    uint64_t u = 0;
    int64_t i = 0;
    double f = 0;
    std::string_view s;

    static Unexpected null() { return {}; }
    static Unexpected boolean(bool v) {
        Unexpected u;
        u.kind = Kind::Bool, u.b = v;
        return u;
    }
    static Unexpected unsigned_int(uint64_t v) {
        Unexpected u;
        u.kind = Kind::Unsigned, u.u = v;
        return u;
    }
    static Unexpected signed_int(int64_t v) {
        Unexpected u;
        u.kind = Kind::Signed, u.i = v;
        return u;
    }
    static Unexpected floating(double v) {
        Unexpected u;
        u.kind = Kind::Float, u.f = v;
        return u;
    }
    static Unexpected str(std::string_view v) {
        Unexpected u;
        u.kind = Kind::Str, u.s = v;
        return u;
    }
    static Unexpected seq() {
        Unexpected u;
        u.kind = Kind::Seq;
        return u;
    }
    static Unexpected map() {
        Unexpected u;
        u.kind = Kind::Map;
        return u;
    }
    static Unexpected unit_variant() {
        Unexpected u;
        u.kind = Kind::UnitVariant;
        return u;
    }
    // How a value of a parsed document is told (a number by its form).
    static Unexpected of(const Value& v);

    std::string to_string() const;
};

// Messages of typed reading (no position; the reader adds one where it has one).
Error invalid_type(const Unexpected& found, std::string_view expected);
Error invalid_value(const Unexpected& found, std::string_view expected);
Error invalid_length(size_t length, std::string_view expected);
Error unknown_variant(std::string_view variant, std::span<const std::string_view> expected);
Error missing_field(std::string_view field);
Error duplicate_field(std::string_view field);
Error custom_error(std::string message);

} // namespace vok::json
