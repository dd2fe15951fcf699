// Names of the grammar's rules, indexed by their enumeration value, expanded from rule.def.
#include "parser/grammar/rule.h"

#include <array>

namespace vok::grammar {

namespace {
constexpr std::array<std::string_view, kRuleCount> kRuleNames = {
#define VOK_RULE(name) #name,
#include "parser/grammar/rule.def"
};
} // namespace

std::string_view rule_name(Rule rule) {
    const auto index = static_cast<size_t>(rule);
    return index < kRuleNames.size() ? kRuleNames[index] : std::string_view("unknown");
}

} // namespace vok::grammar
