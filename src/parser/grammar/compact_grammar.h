// The grammar of a whole source file as a hand-written parser that leaves a compact pair tree.
//
// The rule engine (parser_state.h and the rule files) tracks attempts for syntax errors, remembers
// failures for backtracking, and leaves one pair per precedence level of every operand, which
// makes it general and slow. This parser accepts exactly the text the rule engine accepts from
// `program`, with no attempt tracking and no memo beyond where parenthesised expressions failed:
// declarations dispatch on their keyword, and an expression level leaves its pair only when it
// holds an operator, so `a` under a policy is `expression(primary_expr(identifier))` rather than
// a chain of ten single-child pairs. The expression builder steps over such single-child levels
// anyway, so both trees build the same syntax tree.
//
// It never reports why a text fails: a refusal only means "ask the rule engine", which then yields
// the exact failure (or, should it accept after all, its own tree). It also refuses, and leaves
// the text to the rule engine, when the nesting comes near what the rule engine allows (so that a
// text nested too deep is refused by the engine, at the depth the engine refuses it) and when
// backtracking costs more than a bounded amount of work per input byte.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "parser/grammar/rule.h"
#include "peg/pairs.h"
#include "peg/record_buffer.h"

namespace vok::grammar {

// Receives each top-level declaration's records as soon as the declaration has been read, in place
// of the program's tree: a reader that takes the declarations in an order of its own can have
// them sorted so while they are still in the cache, rather than copy them out of a large tree.
//
// A large text may be read in parts side by side: each part's declarations go to a sink of its own
// (`part`), which is joined to this one where the part turns out to follow what this one has
// taken. A sink whose `part` gives nothing is read in one go.
class DeclarationSink {
public:
    virtual ~DeclarationSink() = default;

    // `records` are the `count` records of a declaration's own pair (entity_decl, policy_decl,
    // ...: inside its `declaration`, `export_decl` and `declaration_inner` wrappers, which are
    // dropped) and of its descendants, `rule` that pair's rule; `first` is the index the first
    // of them had in the program's tree, which their `next` indexes count from.
    virtual void take(Rule rule, const peg::PairRecord* records, uint32_t count,
                      uint32_t first) = 0;

    // An empty sink for a part of the text read on another thread; nothing when parts are not
    // wanted.
    virtual std::unique_ptr<DeclarationSink> part() { return nullptr; }
    // Takes over what `part` (made by this sink's `part`) took, after what this sink holds.
    virtual void join(DeclarationSink& part) { (void)part; }

    // Drops what `take` received: the compact parser has given up on the text, and the rule
    // engine, which needs memory of its own, reads it again without a sink.
    virtual void discard() {}

    // Set when the compact parser has read the whole text: every declaration went to `take`, in
    // file order. Otherwise `discard` has dropped what `take` received.
    bool complete = false;
};

// The records of the compact tree of `program` over `text`, or nothing when the rule engine must
// decide. Polls for cancellation as it goes. With a sink, the declarations go to the sink and the
// tree keeps the rest (`program`, the file header and the end of input).
//
// A text of 512 KiB or more, given a sink that takes parts, is split at lines starting with a
// declaration keyword into up to four parts (no more than cores_for_workers gives: the text whole
// on fewer than three cores or under a memory cap), and all but the first are read on worker
// threads while the calling thread reads the first. A part is taken over only where the calling
// thread's own reading reaches its start; elsewhere the calling thread reads on. The sink thus
// receives what one reading would give it.
std::optional<peg::RecordBuffer<peg::PairRecord>>
parse_program_compact(std::string_view text, DeclarationSink* sink = nullptr);

// For tests and fuzzers: from now on, every text read with a sink that takes parts is read in
// `parts` parts, whatever its size and the cores (0 restores the choice by size and cores).
void read_in_parts_for_testing(size_t parts);

} // namespace vok::grammar
