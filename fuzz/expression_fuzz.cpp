// Fuzzes a lone expression: the grammar started at `expression` and the expression builder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "expression/expression_text.h"
#include "parser/expression_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tree = vok::parse_expression(text);
    if (!tree.ok()) return 0;
    if (auto root = tree->root()) {
        auto e = vok::build_expression(*root);
        if (e.ok()) (void)vok::expression_text(*e);
    }
    return 0;
}
