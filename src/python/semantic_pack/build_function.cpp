// The module function that builds packs; the definitions behind build_function.h.
#include "python/semantic_pack/build_function.h"

#include <string>
#include <utility>
#include <vector>

#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "semantic_pack/build_pack.h"

namespace vok::python {

namespace {

constexpr Signature kBuildSemanticPackSignature{"build_semantic_pack", {{"input_json"}}};

using BuildOutput = std::pair<std::string, std::vector<std::string>>;

PyResult<BuildOutput> build_semantic_pack(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    VOK_ASSIGN(semantic_pack::PackBuildInput input,
               core_result(semantic_pack::parse_pack_build_input(text),
                           messages::prefix::kInvalidBuildInputJson));
    semantic_pack::PackBuildResult built = semantic_pack::build_pack(std::move(input));

    BuildOutput output;
    output.second.reserve(built.diagnostics.size() + built.alias_group_warnings.size());
    for (const auto& diagnostic : built.diagnostics)
        output.second.push_back(semantic_pack::diagnostic_to_json_string(diagnostic));
    for (const auto& diagnostic : built.alias_group_warnings)
        output.second.push_back(semantic_pack::diagnostic_to_json_string(diagnostic));
    if (built.pack) output.first = built.pack->serialize();
    return output;
}

} // namespace

const FunctionRow kBuildSemanticPack = function<kBuildSemanticPackSignature, build_semantic_pack>();

} // namespace vok::python
