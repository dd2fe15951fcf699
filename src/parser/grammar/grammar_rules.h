// One function per grammar rule, named as the rule (internal to the grammar library).
//
// Each function matches its rule at the state's position with the engine's semantics: it leaves
// the rule's pair (unless silent or inside an atomic rule), takes part in attempt tracking, and on
// failure leaves the position and the pair records as it found them. The definitions are split by
// layer: lexical rules and file structure, declarations, expressions.
#pragma once

#include <array>

#include "parser/grammar/dsl_state.h"
#include "parser/grammar/rule.h"

namespace vok::grammar {

#define VOK_RULE(name) bool name(DslState& s);
#include "parser/grammar/rule.def"

using RuleFunction = bool (*)(DslState&);

// An atomic rule whose body is a byte scanner (lexical_scan.h): one pair, moved to the end of the
// scanner's match.
template <const char* (*Scanner)(const char*, const char*)>
bool scanned_rule(DslState& s, Rule rule) {
    return s.rule(rule, [&] {
        return s.atomic([&] {
            const char* end = Scanner(s.cursor(), s.input_end());
            if (end == nullptr) return false;
            s.advance_to(end);
            return true;
        });
    });
}

// The rule functions indexed by their enumeration value.
inline constexpr std::array<RuleFunction, kRuleCount> kRuleFunctions = {
#define VOK_RULE(name) name,
#include "parser/grammar/rule.def"
};

} // namespace vok::grammar
