// Fuzzes the DSL front end: grammar, syntax-tree builders, syntax-tree JSON and lowering. An input
// that costs the grammar more rule calls per byte than it promises is a finding too.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/ast_json.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/parse_source.h"
#if __has_include("parser/lowering.h")
#include "parser/lowering.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    vok::peg::ParseStats stats;
    (void)vok::DslParser::parse(vok::Rule::program, text, &stats);
    if (stats.rule_calls > vok::kMaxRuleCallsPerByte * (size + 1)) __builtin_trap();
    auto ast = vok::parse_source(text);
    if (ast.ok()) {
        (void)vok::ast_to_json_document(*ast, vok::ast_json_limit_for(size));
#if __has_include("parser/lowering.h")
        (void)vok::ast_to_graph(*ast, vok::LoweringOptions{});
#endif
    } else {
        (void)ast.error().to_string();
    }
    return 0;
}
