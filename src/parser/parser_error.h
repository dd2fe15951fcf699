// ParserError: the one error type of the language front end.
//
// Fifteen variants, in a fixed order (the order is visible through kind()). Every message text of
// the type lives in to_string(); the wording of a failed grammar run ("unexpected ...; expected
// ...") lives in from_parse_failure(). Lines and columns are 1-based when they come from the
// source and 0 when no position is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/error_variant.h"
#include "parser/grammar/rule.h"
#include "peg/parse_failure.h"

namespace vok {

struct ParserErrorAlternatives {
    struct Syntax {
        std::string message;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const Syntax&) const = default;
    };
    struct UnsupportedExpression {
        std::string expression;
        std::optional<std::string> location;
        bool operator==(const UnsupportedExpression&) const = default;
    };
    struct Grammar {
        std::string message;
        bool operator==(const Grammar&) const = default;
    };
    struct UndefinedEntity {
        std::string name;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const UndefinedEntity&) const = default;
    };
    struct UndefinedResource {
        std::string name;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const UndefinedResource&) const = default;
    };
    struct UndefinedVariable {
        std::string name;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const UndefinedVariable&) const = default;
    };
    struct DuplicateDeclaration {
        std::string name;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const DuplicateDeclaration&) const = default;
    };
    // Stored message first, location second; rendered location first.
    struct Type {
        std::string message;
        std::string location;
        bool operator==(const Type&) const = default;
    };
    struct InvalidExpression {
        std::string message;
        bool operator==(const InvalidExpression&) const = default;
    };
    struct InvalidQuantity {
        std::string message;
        bool operator==(const InvalidQuantity&) const = default;
    };
    struct Validation {
        std::string message;
        bool operator==(const Validation&) const = default;
    };
    struct NamespaceNotFound {
        std::string namespace_name;
        std::optional<std::string> suggestion;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const NamespaceNotFound&) const = default;
    };
    struct ModuleNotFound {
        std::string module;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const ModuleNotFound&) const = default;
    };
    struct SymbolNotExported {
        std::string symbol;
        std::string module;
        std::vector<std::string> available_exports;
        size_t line = 0;
        size_t column = 0;
        bool operator==(const SymbolNotExported&) const = default;
    };
    struct CircularDependency {
        std::vector<std::string> path;
        bool operator==(const CircularDependency&) const = default;
    };

    // Rows in parser_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_PARSER_ERROR_KIND(Name) Name,
#include "parser/parser_error_kind.def"
    };
    using Variant = VariantOfRows<void
#define VOK_PARSER_ERROR_KIND(Name) , Name
#include "parser/parser_error_kind.def"
                                  >::type;
};

struct ParserError : ErrorVariant<ParserErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The one-line message of the variant; no trailing newline.
    std::string to_string() const;

    // ---- constructors by variant ----
    static ParserError syntax(std::string message, size_t line, size_t column);
    static ParserError unsupported_expression(std::string expression,
                                              std::optional<std::string> location = std::nullopt);
    static ParserError grammar(std::string message);
    // The lowering reports unresolved names without a position: line and column are 0.
    static ParserError undefined_entity(std::string name);
    static ParserError undefined_resource(std::string name);
    static ParserError undefined_variable(std::string name, size_t line, size_t column);
    static ParserError duplicate_declaration(std::string name, size_t line = 0, size_t column = 0);
    static ParserError type_error(std::string message, std::string location);
    static ParserError invalid_expression(std::string message);
    static ParserError invalid_quantity(std::string message);
    static ParserError validation(std::string message);
    static ParserError namespace_not_found(std::string namespace_name,
                                           std::optional<std::string> suggestion, size_t line,
                                           size_t column);
    static ParserError module_not_found(std::string module, size_t line, size_t column);
    static ParserError symbol_not_exported(std::string symbol, std::string module,
                                           std::vector<std::string> available_exports, size_t line,
                                           size_t column);
    static ParserError circular_dependency(std::vector<std::string> path);

    // The Syntax error for a failed grammar run: its position, and the runtime's short
    // description ("unexpected X; expected Y", "expected Y", ..., or the refusal's own message).
    static ParserError from_parse_failure(const peg::ParseFailure<grammar::Rule>& failure);
};

// The message part of a failed grammar run, as from_parse_failure words it.
std::string describe_parse_failure(const peg::ParseFailure<grammar::Rule>& failure);

} // namespace vok
