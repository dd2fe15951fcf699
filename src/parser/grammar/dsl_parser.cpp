// Running the grammar: the start rule is looked up in the table of rule functions.
#include "parser/grammar/dsl_parser.h"

#include "common/invariant.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/grammar/grammar_rules.h"
#include "peg/parser_state.h"

namespace vok::grammar {

Result<DslTree, DslParseFailure> DslParser::parse(Rule start, std::string_view text,
                                                  peg::ParseStats* stats) {
    VOK_INVARIANT(static_cast<size_t>(start) < kRuleCount, "start rule out of range");
    const grammar::RuleFunction start_rule = grammar::kRuleFunctions[static_cast<size_t>(start)];
    return peg::run_parser<grammar::DslState, Rule>(text, kMaxRuleNesting, start_rule, stats);
}

Result<DslTree, DslParseFailure> DslParser::parse_program(std::string_view text,
                                                          DeclarationSink* sink) {
    if (auto records = grammar::parse_program_compact(text, sink))
        return DslTree(text, std::move(*records));
    if (sink != nullptr) sink->discard();
    return parse(Rule::program, text);
}

} // namespace vok::grammar
