// Rendering of ParserError, and the wording of a failed grammar run.
#include "parser/parser_error.h"

#include <string_view>
#include <utility>

#include "peg/parser_state.h"

namespace vok {

namespace {

std::string position_text(size_t line, size_t column) {
    return std::to_string(line) + ":" + std::to_string(column);
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += separator;
        text += items[i];
    }
    return text;
}

// "a"; "a or b"; "a, b, or c".
std::string rule_list(const std::vector<grammar::Rule>& rules) {
    std::string text;
    for (size_t i = 0; i < rules.size(); ++i) {
        if (i > 0) {
            if (rules.size() == 2)
                text += " or ";
            else if (i + 1 == rules.size())
                text += ", or ";
            else
                text += ", ";
        }
        text += grammar::rule_name(rules[i]);
    }
    return text;
}

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

std::string ParserError::to_string() const {
    return visit(Overloaded{
        [](const Syntax& e) {
            return "Syntax error at " + position_text(e.line, e.column) + ": " + e.message;
        },
        [](const UnsupportedExpression& e) {
            std::string text = "Unsupported expression '" + e.expression + "'";
            if (e.location) text += " at " + *e.location;
            return text;
        },
        [](const Grammar& e) { return "Grammar error: " + e.message; },
        [](const UndefinedEntity& e) {
            return "Undefined entity: " + e.name + " at " + position_text(e.line, e.column);
        },
        [](const UndefinedResource& e) {
            return "Undefined resource: " + e.name + " at " + position_text(e.line, e.column);
        },
        [](const UndefinedVariable& e) {
            return "Undefined variable: " + e.name + " at " + position_text(e.line, e.column);
        },
        [](const DuplicateDeclaration& e) {
            return "Duplicate declaration: " + e.name + " at " + position_text(e.line, e.column);
        },
        [](const Type& e) { return "Type error at " + e.location + ": " + e.message; },
        [](const InvalidExpression& e) { return "Invalid expression: " + e.message; },
        [](const InvalidQuantity& e) { return "Invalid quantity: " + e.message; },
        [](const Validation& e) { return "Validation error: " + e.message; },
        [](const NamespaceNotFound& e) {
            std::string text = "Namespace '" + e.namespace_name + "' not found at " +
                               position_text(e.line, e.column);
            if (e.suggestion) text += ". Did you mean '" + *e.suggestion + "'?";
            return text;
        },
        [](const ModuleNotFound& e) {
            return "Module '" + e.module + "' not found at " + position_text(e.line, e.column);
        },
        [](const SymbolNotExported& e) {
            std::string text = "Symbol '" + e.symbol + "' is not exported by module '" + e.module +
                               "' at " + position_text(e.line, e.column);
            if (!e.available_exports.empty())
                text += ". Available exports: " + join(e.available_exports, ", ");
            return text;
        },
        [](const CircularDependency& e) {
            return "Circular dependency detected: " + join(e.path, " -> ");
        },
    });
}

ParserError ParserError::syntax(std::string message, size_t line, size_t column) {
    return Syntax{std::move(message), line, column};
}

ParserError ParserError::unsupported_expression(std::string expression,
                                                std::optional<std::string> location) {
    return UnsupportedExpression{std::move(expression), std::move(location)};
}

ParserError ParserError::grammar(std::string message) {
    return Grammar{std::move(message)};
}

ParserError ParserError::undefined_entity(std::string name) {
    return UndefinedEntity{std::move(name), 0, 0};
}

ParserError ParserError::undefined_resource(std::string name) {
    return UndefinedResource{std::move(name), 0, 0};
}

ParserError ParserError::undefined_variable(std::string name, size_t line, size_t column) {
    return UndefinedVariable{std::move(name), line, column};
}

ParserError ParserError::duplicate_declaration(std::string name, size_t line, size_t column) {
    return DuplicateDeclaration{std::move(name), line, column};
}

ParserError ParserError::type_error(std::string message, std::string location) {
    return Type{std::move(message), std::move(location)};
}

ParserError ParserError::invalid_expression(std::string message) {
    return InvalidExpression{std::move(message)};
}

ParserError ParserError::invalid_quantity(std::string message) {
    return InvalidQuantity{std::move(message)};
}

ParserError ParserError::validation(std::string message) {
    return Validation{std::move(message)};
}

ParserError ParserError::namespace_not_found(std::string namespace_name,
                                             std::optional<std::string> suggestion, size_t line,
                                             size_t column) {
    return NamespaceNotFound{std::move(namespace_name), std::move(suggestion), line, column};
}

ParserError ParserError::module_not_found(std::string module, size_t line, size_t column) {
    return ModuleNotFound{std::move(module), line, column};
}

ParserError ParserError::symbol_not_exported(std::string symbol, std::string module,
                                             std::vector<std::string> available_exports,
                                             size_t line, size_t column) {
    return SymbolNotExported{std::move(symbol), std::move(module), std::move(available_exports),
                             line, column};
}

ParserError ParserError::circular_dependency(std::vector<std::string> path) {
    return CircularDependency{std::move(path)};
}

std::string describe_parse_failure(const peg::ParseFailure<grammar::Rule>& failure) {
    switch (failure.kind) {
    case peg::FailureKind::NestingTooDeep:
        return "nesting too deep: more than " + std::to_string(failure.nesting_limit) +
               " nested grammar rules";
    case peg::FailureKind::InputTooLarge:
        return "input too large: more than " + std::to_string(peg::kMaxInputBytes) + " bytes";
    case peg::FailureKind::Parsing:
        break;
    }
    const bool has_positives = !failure.positives.empty();
    const bool has_negatives = !failure.negatives.empty();
    if (has_positives && has_negatives)
        return "unexpected " + rule_list(failure.negatives) + "; expected " +
               rule_list(failure.positives);
    if (has_negatives) return "unexpected " + rule_list(failure.negatives);
    if (has_positives) return "expected " + rule_list(failure.positives);
    return "unknown parsing error";
}

ParserError ParserError::from_parse_failure(const peg::ParseFailure<grammar::Rule>& failure) {
    return syntax(describe_parse_failure(failure), failure.line_col.line, failure.line_col.column);
}

} // namespace vok
