// Fuzzes the source formatter against its read-back law: whatever the reader accepts formats into
// text that reads back to the same syntax tree and formats to itself. The first input byte picks
// the options (indent width, tabs, comments, import order); the rest is the source.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "formatter/ast_equality.h"
#include "formatter/format_program.h"
#include "parser/parse_source.h"

namespace {

[[noreturn]] void law_broken(const char* what, std::string_view source, std::string_view detail) {
    std::fprintf(stderr, "read-back law broken: %s\n--- source\n%.*s\n--- detail\n%.*s\n", what,
                 static_cast<int>(source.size()), source.data(), static_cast<int>(detail.size()),
                 detail.data());
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    vok::FormatConfig config;
    config.indent_width = data[0] & 7;
    config.use_tabs = (data[0] & 8) != 0;
    config.preserve_comments = (data[0] & 16) == 0;
    config.sort_imports = (data[0] & 32) == 0;
    const std::string_view source(reinterpret_cast<const char*>(data + 1), size - 1);

    auto original = vok::parse_source(source);
    if (!original.ok()) return 0;
    auto once = vok::format_program(source, config);
    if (!once.ok()) law_broken("accepted source does not format", source, once.error().to_string());
    auto reread = vok::parse_source(*once);
    if (!reread.ok())
        law_broken("formatted text does not parse", *once, reread.error().to_string());
    if (auto difference = vok::testing::ast_difference(*original, *reread, config.sort_imports))
        law_broken("formatted text reads back differently", *once, *difference);
    auto twice = vok::format_program(*once, config);
    if (!twice.ok() || *twice != *once)
        law_broken("formatted text formats differently", *once, twice.ok() ? *twice : "");
    return 0;
}
