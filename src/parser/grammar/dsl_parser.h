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
#include "parser/grammar/rule.h"
#include "peg/pairs.h"
#include "peg/parse_failure.h"

namespace vok {

using DslPair = peg::Pair<Rule>;
using DslPairs = peg::Pairs<Rule>;
using DslTree = peg::ParseTree<Rule>;
using DslParseFailure = peg::ParseFailure<Rule>;

// How deeply grammar rules may nest before a run is refused. One level of parentheses in an
// expression costs ten rules (expression down to primary_expr), one `not` or unary minus one rule,
// one level of object literal two; so this allows about 100 nested parentheses or 500 nested
// object literals. A rule level takes about 200 bytes of stack in an optimised build (about 600
// unoptimised), which keeps the grammar, and the recursive builders that walk the tree (and the
// expression trees they make, at most this deep) afterwards, far from the end of a 1 MB stack.
inline constexpr size_t kMaxRuleNesting = 1024;

class DslParser {
public:
    static Result<DslTree, DslParseFailure> parse(Rule start, std::string_view text);
};

} // namespace vok
