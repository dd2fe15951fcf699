// Wrapper of diff_packs; see diff_function.h.
#include "python/semantic_pack/diff_function.h"

#include "python/binding/binding.h"
#include "semantic_pack/diff.h"

namespace vok::python {

namespace {

constexpr Signature kDiffPacksSignature{"diff_packs", {{"old_json"}, {"new_json"}}};

PyResult<std::string> diff_packs(Args& args) {
    VOK_ASSIGN(std::string_view old_json, args.text(0));
    VOK_ASSIGN(std::string_view new_json, args.text(1));
    auto report = semantic_pack::diff_pack_documents(old_json, new_json);
    if (!report.ok()) return Err(value_error(report.error().to_string()));
    return std::move(*report);
}

} // namespace

const FunctionRow kDiffPacks = function<kDiffPacksSignature, diff_packs>();

} // namespace vok::python
