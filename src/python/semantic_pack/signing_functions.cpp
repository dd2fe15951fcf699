// The module function that computes a pack's content hash (signing and verification are in
// signature_functions.h); the definitions behind signing_functions.h.
#include "python/semantic_pack/signing_functions.h"

#include "python/binding/binding.h"
#include "python/semantic_pack/pack_arguments.h"
#include "semantic_pack/canonical_json.h"

namespace vok::python {

namespace {

constexpr Signature kComputePackHashSignature{"compute_pack_hash", {{"pack_json"}}};

PyResult<std::string> compute_pack_hash(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    VOK_ASSIGN(semantic_pack::SemanticPack pack, read_pack(text));
    return semantic_pack::content_hash_of(std::move(pack));
}

} // namespace

const FunctionRow kComputePackHash = function<kComputePackHashSignature, compute_pack_hash>();

} // namespace vok::python
