// Fuzzes a lone expression: the grammar started at `expression` and the expression builder. An
// input that costs the grammar more rule calls per byte than it promises is a finding too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "expression/expression_text.h"
#include "parser/expression_builder.h"
#include "parser/grammar/dsl_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    vok::peg::ParseStats stats;
    auto tree = vok::grammar::DslParser::parse(vok::grammar::Rule::expression, text, &stats);
    if (stats.rule_calls > vok::grammar::kMaxRuleCallsPerByte * (size + 1)) __builtin_trap();
    if (!tree.ok()) return 0;
    if (auto root = tree->root()) {
        auto e = vok::build_expression(*root);
        if (e.ok()) (void)vok::expression_text(*e);
    }
    return 0;
}
