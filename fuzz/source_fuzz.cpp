// Fuzzes the DSL front end: grammar, syntax-tree builders, syntax-tree JSON and lowering.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "parser/ast_json.h"
#include "parser/parse_source.h"
#if __has_include("parser/lowering.h")
#include "parser/lowering.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
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
