// The module functions of lookup keys and concept resolution; the definitions behind
// resolution_functions.h.
#include "python/semantic_pack/resolution_functions.h"

#include <string>

#include "python/binding/binding.h"
#include "python/semantic_pack/pack_arguments.h"
#include "semantic_pack/concept_resolution.h"
#include "semantic_pack/lookup_key.h"

namespace vok::python {

namespace {

constexpr Signature kNormalizeLookupKeySignature{"normalize_lookup_key", {{"text"}}};
constexpr Signature kResolveConceptSignature{"resolve_concept",
                                             {{"raw_text"}, {"pack_json"}, {"options_json"}}};

PyResult<std::string> normalize_lookup_key(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    return semantic_pack::normalize_key(text);
}

PyResult<std::string> resolve_concept(Args& args) {
    VOK_ASSIGN(std::string_view raw_text, args.text(0));
    VOK_ASSIGN(std::string_view pack_text, args.text(1));
    VOK_ASSIGN(std::string_view options_text, args.text(2));
    VOK_ASSIGN(semantic_pack::SemanticPack pack, read_pack(pack_text));
    VOK_TRY(read_options(options_text));
    return semantic_pack::resolve_concept(raw_text, pack).serialize();
}

} // namespace

const FunctionRow kNormalizeLookupKey =
    function<kNormalizeLookupKeySignature, normalize_lookup_key>();
const FunctionRow kResolveConcept = function<kResolveConceptSignature, resolve_concept>();

} // namespace vok::python
