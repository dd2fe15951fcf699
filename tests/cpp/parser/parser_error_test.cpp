// Rendering of every ParserError variant, and the wording of failed grammar runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parser/parser_error.h"

namespace vok {
namespace {

struct Rendering {
    ParserError error;
    ParserError::Kind kind;
    std::string text;
};

TEST(ParserError, RendersEveryVariant) {
    using K = ParserError::Kind;
    const std::vector<Rendering> cases = {
        {ParserError::syntax("expected name", 3, 1), K::Syntax,
         "Syntax error at 3:1: expected name"},
        {ParserError::unsupported_expression("binary"), K::UnsupportedExpression,
         "Unsupported expression 'binary'"},
        {ParserError::unsupported_expression("binary", "policy p"), K::UnsupportedExpression,
         "Unsupported expression 'binary' at policy p"},
        {ParserError::grammar("Expected entity name"), K::Grammar,
         "Grammar error: Expected entity name"},
        {ParserError::undefined_entity("Warehouse"), K::UndefinedEntity,
         "Undefined entity: Warehouse at 0:0"},
        {ParserError::undefined_resource("Money"), K::UndefinedResource,
         "Undefined resource: Money at 0:0"},
        {ParserError::undefined_variable("x", 2, 7), K::UndefinedVariable,
         "Undefined variable: x at 2:7"},
        {ParserError::duplicate_declaration("Entity 'A' already declared"), K::DuplicateDeclaration,
         "Duplicate declaration: Entity 'A' already declared at 0:0"},
        {ParserError::type_error("m", "loc"), K::Type, "Type error at loc: m"},
        {ParserError::invalid_expression("Invalid additive operator"), K::InvalidExpression,
         "Invalid expression: Invalid additive operator"},
        {ParserError::invalid_quantity("Invalid number: x"), K::InvalidQuantity,
         "Invalid quantity: Invalid number: x"},
        {ParserError::validation("Unknown profile"), K::Validation,
         "Validation error: Unknown profile"},
        {ParserError::namespace_not_found("x", std::nullopt, 1, 2), K::NamespaceNotFound,
         "Namespace 'x' not found at 1:2"},
        {ParserError::namespace_not_found("x", "y", 1, 2), K::NamespaceNotFound,
         "Namespace 'x' not found at 1:2. Did you mean 'y'?"},
        {ParserError::module_not_found("m", 4, 5), K::ModuleNotFound,
         "Module 'm' not found at 4:5"},
        {ParserError::symbol_not_exported("s", "m", {}, 1, 1), K::SymbolNotExported,
         "Symbol 's' is not exported by module 'm' at 1:1"},
        {ParserError::symbol_not_exported("s", "m", {"a", "b"}, 1, 1), K::SymbolNotExported,
         "Symbol 's' is not exported by module 'm' at 1:1. Available exports: a, b"},
        {ParserError::circular_dependency({"a", "b", "c"}), K::CircularDependency,
         "Circular dependency detected: a -> b -> c"},
    };
    for (const Rendering& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
        EXPECT_EQ(c.error.kind(), c.kind) << c.text;
    }
    // Variant order is part of the interface.
    static_assert(CoreError<ParserError> && ParserError::kKindCount == 15);
    EXPECT_EQ(static_cast<int>(K::CircularDependency), 14);
    EXPECT_EQ(ParserError(ParserError::Type{"m", "loc"}).get_if<ParserError::Type>()->location,
              "loc");
}

peg::ParseFailure<grammar::Rule> failure(std::vector<grammar::Rule> positives,
                                         std::vector<grammar::Rule> negatives) {
    peg::ParseFailure<grammar::Rule> f;
    f.position = 4;
    f.line_col = {2, 3};
    f.positives = std::move(positives);
    f.negatives = std::move(negatives);
    return f;
}

TEST(ParserError, WordsFailedGrammarRuns) {
    using R = grammar::Rule;
    struct Case {
        peg::ParseFailure<grammar::Rule> failure;
        std::string message;
    } cases[] = {
        {failure({R::name}, {}), "expected name"},
        {failure({R::EOI, R::declaration}, {}), "expected EOI or declaration"},
        {failure({R::EOI, R::in_keyword, R::declaration}, {}),
         "expected EOI, in_keyword, or declaration"},
        {failure({R::EOI, R::in_keyword, R::declaration, R::identifier}, {}),
         "expected EOI, in_keyword, declaration, or identifier"},
        {failure({}, {R::declaration_keyword}), "unexpected declaration_keyword"},
        {failure({R::identifier}, {R::declaration_keyword}),
         "unexpected declaration_keyword; expected identifier"},
        {failure({R::string_literal}, {R::in_keyword, R::declaration_keyword}),
         "unexpected in_keyword or declaration_keyword; expected string_literal"},
        {failure({}, {}), "unknown parsing error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe_parse_failure(c.failure), c.message);
        EXPECT_EQ(ParserError::from_parse_failure(c.failure).to_string(),
                  "Syntax error at 2:3: " + c.message);
    }
    peg::ParseFailure<grammar::Rule> deep;
    deep.kind = peg::FailureKind::NestingTooDeep;
    deep.nesting_limit = 1024;
    deep.line_col = {1, 116};
    EXPECT_EQ(ParserError::from_parse_failure(deep).to_string(),
              "Syntax error at 1:116: nesting too deep: more than 1024 nested grammar rules");
}

} // namespace
} // namespace vok
