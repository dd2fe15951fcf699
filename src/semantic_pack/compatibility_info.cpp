// The tool versions a pack needs, its retirement dates and the packs it replaces; the definitions
// behind compatibility_info.h.
#include "semantic_pack/compatibility_info.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<CompatibilityInfo> kMembers[] = {
    defaulted_member<&CompatibilityInfo::brisvandole_min_version>("brisvandole_min_version"),
    defaulted_member<&CompatibilityInfo::brisvandole_max_version>("brisvandole_max_version"),
    defaulted_member<&CompatibilityInfo::lsp_min_version>("lsp_min_version"),
    defaulted_member<&CompatibilityInfo::deprecated_after>("deprecated_after"),
    defaulted_member<&CompatibilityInfo::retired_after>("retired_after"),
    defaulted_member<&CompatibilityInfo::replaces_pack_ids>("replaces_pack_ids"),
};
constexpr auto kLayout = record_layout("struct CompatibilityInfo", kMembers);

} // namespace

VOK_RECORD_JSON(CompatibilityInfo, kLayout)

} // namespace vok::semantic_pack
