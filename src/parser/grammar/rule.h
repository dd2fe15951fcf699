// The rules of the VOK DSL grammar, in grammar order.
//
// The order is part of the language's interface: a syntax error lists the rules that were expected
// sorted by this enumeration, and the tree builders dispatch on these names. rule_name gives the
// name exactly as the grammar spells it. The rows live in rule.def.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vok::grammar {

enum class Rule : uint8_t {
#define VOK_RULE(name) name,
#include "parser/grammar/rule.def"
};

inline constexpr size_t kRuleCount = 0
#define VOK_RULE(name) +1
#include "parser/grammar/rule.def"
    ;

std::string_view rule_name(Rule rule);

} // namespace vok::grammar
