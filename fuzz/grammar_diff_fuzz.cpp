// Differential fuzzing of the parse road: parse_source (the compact parser, with the rule engine
// behind its refusals) against the old road kept as the tests' oracle (the rule engine's full
// tree). Any difference in what a caller sees, error text, syntax-tree JSON or formatted source,
// is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "oracle/old_road.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string expected =
        vok::oracle::observable(vok::oracle::parse_source(text), text.size());
    const std::string actual = vok::oracle::observable(vok::parse_source(text), text.size());
    if (actual != expected) __builtin_trap();
    return 0;
}
