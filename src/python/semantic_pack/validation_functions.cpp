// The module functions that validate packs; the definitions behind validation_functions.h.
#include "python/semantic_pack/validation_functions.h"

#include <string>
#include <vector>

#include "python/binding/binding.h"
#include "python/semantic_pack/pack_arguments.h"
#include "semantic_pack/pack_validation.h"

namespace vok::python {

namespace {

constexpr Signature kValidateSemanticPackSignature{"validate_semantic_pack", {{"pack_json"}}};
constexpr Signature kValidateGraphWithPackSignature{"validate_graph_with_pack",
                                                    {{"pack_json"}, {"source"}, {"options_json"}}};

PyResult<std::vector<std::string>> validate_semantic_pack(Args& args) {
    VOK_ASSIGN(semantic_pack::SemanticPack pack, pack_argument(args, 0));
    std::vector<std::string> texts;
    for (const auto& diagnostic : semantic_pack::validate_pack_structure(std::move(pack)))
        texts.push_back(semantic_pack::diagnostic_to_json_string(diagnostic));
    return texts;
}

PyResult<std::string> validate_graph_with_pack(Args& args) {
    VOK_ASSIGN(std::string_view pack_text, args.text(0));
    VOK_ASSIGN(std::string_view source, args.text(1));
    VOK_ASSIGN(std::string_view options_text, args.text(2));
    VOK_ASSIGN(semantic_pack::SemanticPack pack, read_pack(pack_text));
    VOK_ASSIGN(semantic_pack::ValidationOptions options, read_options(options_text));
    return semantic_pack::validate_graph_with_pack(std::move(pack), source, options).serialize();
}

} // namespace

const FunctionRow kValidateSemanticPack =
    function<kValidateSemanticPackSignature, validate_semantic_pack>();
const FunctionRow kValidateGraphWithPack =
    function<kValidateGraphWithPackSignature, validate_graph_with_pack>();

} // namespace vok::python
