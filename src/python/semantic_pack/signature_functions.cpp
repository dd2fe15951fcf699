// Wrappers of sign_pack and verify_pack_signature; see signature_functions.h.
#include "python/semantic_pack/signature_functions.h"

#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "semantic_pack/signing.h"

namespace vok::python {

namespace {

constexpr Signature kSignPackSignature{"sign_pack", {{"pack_json"}, {"private_key_pem"}}};
constexpr Signature kVerifyPackSignatureSignature{"verify_pack_signature",
                                                  {{"pack_json"}, {"public_key_pem"}}};

PyResult<std::string> sign_pack(Args& args) {
    VOK_ASSIGN(std::string_view pack_json, args.text(0));
    VOK_ASSIGN(std::string_view private_key_pem, args.text(1));
    return core_result(semantic_pack::sign_pack_document(pack_json, private_key_pem));
}

PyResult<bool> verify_pack_signature(Args& args) {
    VOK_ASSIGN(std::string_view pack_json, args.text(0));
    VOK_ASSIGN(std::string_view public_key_pem, args.text(1));
    return core_result(semantic_pack::verify_pack_document(pack_json, public_key_pem),
                       messages::prefix::kInvalidPackJson);
}

} // namespace

const FunctionRow kSignPack = function<kSignPackSignature, sign_pack>();
const FunctionRow kVerifyPackSignature =
    function<kVerifyPackSignatureSignature, verify_pack_signature>();

} // namespace vok::python
