// Fuzzes the pack build: any text is read as a build input; one that reads is built twice with a
// fixed clock and must give the same result both times. A built pack must be in canonical order
// and read back from its own text; a refusal must come from an approved build with an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "semantic_pack/build_pack.h"
#include "semantic_pack/canonical_json.h"

using namespace vok::semantic_pack;

namespace {

vok::UtcInstant fixed_clock() {
    return {1700000000, 0};
}

bool same(const PackBuildResult& a, const PackBuildResult& b) {
    return a.pack == b.pack && a.diagnostics == b.diagnostics &&
           a.alias_group_warnings == b.alias_group_warnings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto input = parse_pack_build_input(text);
    if (!input.ok()) return 0;
    const bool approved = input->approval == ApprovalState::Approved;
    const PackBuildResult first = build_pack(*input, fixed_clock);
    if (!same(first, build_pack(*input, fixed_clock))) std::abort();
    for (const auto& d : first.diagnostics)
        (void)diagnostic_to_json_string(d);
    if (first.refused()) {
        bool has_error = false;
        for (const auto& d : first.diagnostics)
            has_error |= d.severity == vok::semantic_pack::DiagnosticSeverity::Error;
        if (!approved || !has_error || !first.alias_group_warnings.empty()) std::abort();
        return 0;
    }
    SemanticPack sorted = *first.pack;
    sort_pack_collections(sorted);
    if (!(sorted == *first.pack)) std::abort();
    auto again = parse_semantic_pack(first.pack->serialize());
    if (!again.ok() || !(*again == *first.pack)) std::abort();
    return 0;
}
