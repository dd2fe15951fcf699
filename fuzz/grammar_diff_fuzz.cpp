// Differential fuzzing of the parse road: parse_source (the compact parser, with the rule engine
// behind its refusals) against the rule engine's road, the tests' oracle (the rule engine's full
// tree). Any difference in what a caller sees, error text, syntax-tree JSON or formatted source,
// is a finding; so is a graph (or error) of Graph.parse's direct road, which lowers from the
// compact parser's pairs, that differs from the lowering of the rule engine's tree, whether the
// grammar reads the text in one go or in parts side by side.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "oracle/graph_dump.h"
#include "oracle/rule_engine_road.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/lowering.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto engine_ast = vok::oracle::parse_source(text);
    const std::string expected = vok::oracle::observable(engine_ast, text.size());
    const std::string actual = vok::oracle::observable(vok::parse_source(text), text.size());
    if (actual != expected) __builtin_trap();
    const std::string engine_graph = vok::testing::lowering_outcome(
        engine_ast.ok() ? vok::ast_to_graph(std::move(*engine_ast), vok::LoweringOptions{})
                        : vok::ParseResult<vok::Graph>(vok::Err(engine_ast.error())));
    if (vok::testing::lowering_outcome(vok::parse_to_graph(text)) != engine_graph) __builtin_trap();
    // The same, with the text read in parts side by side as large texts are.
    vok::grammar::read_in_parts_for_testing(4);
    const std::string in_parts = vok::testing::lowering_outcome(vok::parse_to_graph(text));
    vok::grammar::read_in_parts_for_testing(0);
    if (in_parts != engine_graph) __builtin_trap();
    return 0;
}
