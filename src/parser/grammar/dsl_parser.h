// Entry points of the VOK DSL grammar.
//
// DslParser::parse runs the grammar from any rule over a text and returns the pair tree or the
// engine's failure report (parser/parse_tree.h has the front end's two uses, with the failure
// turned into a ParserError). Started at `program` a run covers the whole text (start to end of
// input); started at `expression` it neither skips leading whitespace nor requires the whole text
// to be consumed.
//
// The returned tree borrows `text`: keep the text alive while the tree or its pairs are in use.
#pragma once

#include <cstddef>
#include <string_view>

#include "common/result.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/grammar/rule.h"
#include "peg/pairs.h"
#include "peg/parse_failure.h"
#include "peg/parser_state.h"

namespace vok::grammar {

using DslPair = peg::Pair<Rule>;
using DslPairs = peg::Pairs<Rule>;
using DslTree = peg::ParseTree<Rule>;
using DslParseFailure = peg::ParseFailure<Rule>;

// How deeply grammar rules may nest before a run is refused. One level of parentheses in an
// expression costs ten rules (expression down to primary_expr), one `not` or unary minus one rule,
// one level of object literal two; so this allows about 1,000 nested parentheses or 5,000 nested
// object literals. The engine continues on heap stack segments when the thread's stack runs low,
// as do the recursive builders that walk the tree (and the expression trees they make, at most
// this deep) afterwards, so the limit bounds work and memory, not stack.
inline constexpr size_t kMaxRuleNesting = 10000;

// A bound on the grammar's work: a run makes at most this many rule calls per input byte (plus a
// few for the empty input). Every byte of `(((` opens about a dozen rule levels, which is as dense
// as calls get; failures that ordered choice would retry are remembered, so no input costs more.
// Tests and fuzzers hold the grammar to it.
inline constexpr size_t kMaxRuleCallsPerByte = 80;

class DslParser {
public:
    // `stats`, when given, receives what the run cost (tests and fuzzers check its bound).
    static Result<DslTree, DslParseFailure> parse(Rule start, std::string_view text,
                                                  peg::ParseStats* stats = nullptr);

    // A whole source file as the syntax-tree builder reads it: the same outcome as `parse` from
    // `program`, but expression levels without an operator leave no pair (compact_grammar.h).
    // Texts the compact parser refuses go to `parse`, which words the failure. With a sink, a
    // text the compact parser reads has its declarations in the sink, not in the tree; a text it
    // refuses has the sink discarded before `parse` starts (DeclarationSink::complete says which
    // happened).
    static Result<DslTree, DslParseFailure> parse_program(std::string_view text,
                                                          DeclarationSink* sink = nullptr);
};

} // namespace vok::grammar
