// Wrapper of diff_packs; see diff_function.h.
#include "python/semantic_pack/diff_function.h"

#include "python/binding/binding.h"
#include "python/core_errors.h"
#include "semantic_pack/diff.h"

namespace vok::python {

namespace {

constexpr Signature kDiffPacksSignature{"diff_packs", {{"old_json"}, {"new_json"}}};

PyResult<std::string> diff_packs(Args& args) {
    VOK_ASSIGN(std::string_view old_json, args.text(0));
    VOK_ASSIGN(std::string_view new_json, args.text(1));
    return core_result(semantic_pack::diff_pack_documents(old_json, new_json));
}

} // namespace

const FunctionRow kDiffPacks = function<kDiffPacksSignature, diff_packs>();

} // namespace vok::python
