// Fuzzes the DSL front end: grammar, syntax-tree builders, syntax-tree JSON and lowering. An input
// that costs the grammar more rule calls per byte than it promises is a finding too, and so is one
// that the lowering and its reference (tests/cpp/parser/oracle/) lower differently, or one where
// Graph.parse's direct road (lowering from the grammar's pairs) and the tree road (the whole
// syntax tree, then its lowering) give a different graph or a different error, whether the grammar
// reads the text in one go or in parts side by side. Every eighth input is also read followed by
// enough declarations that the direct road builds its nodes on workers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "oracle/graph_dump.h"
#include "oracle/reference_lowering.h"
#include "parser/ast_json.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/lowering.h"
#include "parser/parse_source.h"

namespace {

std::string tree_road_outcome(std::string_view text) {
    auto ast = vok::parse_source(text);
    if (!ast.ok())
        return vok::testing::lowering_outcome(vok::ParseResult<vok::Graph>(vok::Err(ast.error())));
    return vok::testing::lowering_outcome(
        vok::ast_to_graph(std::move(*ast), vok::LoweringOptions{}));
}

const std::string& padding() {
    static const std::string text = [] {
        std::string declarations;
        for (int i = 0; i < 2100; ++i)
            declarations += "Entity \"Padding" + std::to_string(i) + "\"\n";
        return declarations;
    }();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    vok::peg::ParseStats stats;
    (void)vok::grammar::DslParser::parse(vok::grammar::Rule::program, text, &stats);
    if (stats.rule_calls > vok::grammar::kMaxRuleCallsPerByte * (size + 1)) __builtin_trap();
    auto ast = vok::parse_source(text);
    std::string tree_road;
    if (ast.ok()) {
        (void)vok::ast_to_json_document(*ast, vok::ast_json_limit_for(size));
        auto reference_tree = vok::parse_source(text);
        const std::string expected = vok::testing::lowering_outcome(
            vok::reference::lower(*reference_tree, vok::LoweringOptions{}));
        tree_road = vok::testing::lowering_outcome(
            vok::ast_to_graph(std::move(*ast), vok::LoweringOptions{}));
        if (tree_road != expected) __builtin_trap();
    } else {
        (void)ast.error().to_string();
        tree_road =
            vok::testing::lowering_outcome(vok::ParseResult<vok::Graph>(vok::Err(ast.error())));
    }
    if (vok::testing::lowering_outcome(vok::parse_to_graph(text)) != tree_road) __builtin_trap();
    vok::grammar::read_in_parts_for_testing(4);
    const std::string in_parts = vok::testing::lowering_outcome(vok::parse_to_graph(text));
    vok::grammar::read_in_parts_for_testing(0);
    if (in_parts != tree_road) __builtin_trap();
    if (size % 8 == 1) {
        const std::string padded = std::string(text) + "\n" + padding();
        if (vok::testing::lowering_outcome(vok::parse_to_graph(padded)) !=
            tree_road_outcome(padded))
            __builtin_trap();
    }
    return 0;
}
