// Helpers for grammar tests: run one rule and look at what it matched, in compact text forms.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "parser/parse_tree.h"
#include "peg/pair_dump.h"

namespace vok::grammar_test {

// The text of the pair that `rule` matched at the start of `text`, or nothing when it failed.
inline std::optional<std::string> matched(grammar::Rule rule, std::string_view text) {
    auto result = grammar::DslParser::parse(rule, text);
    if (!result.ok()) return std::nullopt;
    const auto root = result->root();
    return root ? std::string(root->as_str()) : std::string();
}

// The whole pair tree that `rule` left, or the syntax error.
inline std::string shape(grammar::Rule rule, std::string_view text) {
    auto result = grammar::DslParser::parse(rule, text);
    if (!result.ok())
        return "<" + ParserError::from_parse_failure(result.error()).to_string() + ">";
    return peg::dump_pairs(result->pairs(), grammar::rule_name);
}

// The tree under the first declaration of a whole file (inside `declaration` and
// `declaration_inner`), or the syntax error.
inline std::string declaration_shape(std::string_view text) {
    auto result = parse_program(text);
    if (!result.ok()) return "<" + result.error().to_string() + ">";
    for (const grammar::DslPair& child : result->root()->children()) {
        if (child.rule() != grammar::Rule::declaration) continue;
        grammar::DslPair inner = *child.children().begin();
        if (inner.rule() == grammar::Rule::declaration_inner) inner = *inner.children().begin();
        std::string out;
        peg::dump_pair(inner, grammar::rule_name, out);
        return out;
    }
    return "<no declaration>";
}

// The syntax error of a whole file, or "ok".
inline std::string program_error(std::string_view text) {
    auto result = parse_program(text);
    return result.ok() ? "ok" : result.error().to_string();
}

} // namespace vok::grammar_test
