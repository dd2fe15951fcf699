// The module function that computes a pack's content hash (signing and verification are in
// signature_functions.h); the definitions behind signing_functions.h.
#include "python/semantic_pack/signing_functions.h"

#include "python/binding/binding.h"
#include "semantic_pack/canonical_json.h"

namespace vok::python {

namespace {

constexpr Signature kComputePackHashSignature{"compute_pack_hash", {{"pack_json"}}};

PyResult<std::string> compute_pack_hash(Args& args) {
    VOK_ASSIGN(std::string_view text, args.text(0));
    auto pack = semantic_pack::parse_semantic_pack(text);
    if (!pack.ok()) return vok::Err(value_error("Invalid pack JSON: ", pack.error().to_string()));
    return semantic_pack::content_hash_of(std::move(*pack));
}

} // namespace

const FunctionRow kComputePackHash = function<kComputePackHashSignature, compute_pack_hash>();

} // namespace vok::python
