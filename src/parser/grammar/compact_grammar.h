// The grammar of a whole source file as a hand-written parser that leaves a compact pair tree.
//
// The rule engine (parser_state.h and the rule files) tracks attempts for syntax errors, remembers
// failures for backtracking, and leaves one pair per precedence level of every operand, which
// makes it general and slow. This parser accepts exactly the text the rule engine accepts from
// `program`, with no attempt tracking and no memo: declarations dispatch on their keyword, and an
// expression level leaves its pair only when it holds an operator, so `a` under a policy is
// `expression(primary_expr(identifier))` rather than a chain of ten single-child pairs. The
// expression builder steps over such single-child levels anyway, so both trees build the same
// syntax tree.
//
// It never reports why a text fails: a refusal only means "ask the rule engine", which then yields
// the exact failure (or, should it accept after all, its own tree). It also refuses, and leaves
// the text to the rule engine, when the nesting comes near what the rule engine allows (so that
// the engine's depth refusal stays exactly where it was) and when backtracking costs more than a
// bounded amount of work per input byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "parser/grammar/rule.h"
#include "peg/pairs.h"
#include "peg/record_buffer.h"

namespace vok::grammar {

// A top-level declaration's own pair (entity_decl, policy_decl, ...: inside its `declaration`,
// `export_decl` and `declaration_inner` wrappers) and that pair's rule.
struct DeclarationRoot {
    uint32_t index;
    Rule rule;
};

struct CompactProgram {
    peg::RecordBuffer<peg::PairRecord> records;
    // Every declaration in file order, noted as it was read: a reader of the declarations need
    // not walk a large tree to find them.
    std::vector<DeclarationRoot> declarations;
};

// The compact tree of `program` over `text`, or nothing when the rule engine must decide. Polls
// for cancellation as it goes.
std::optional<CompactProgram> parse_program_compact(std::string_view text);

} // namespace vok::grammar
