// A pack's trust block; the definitions behind pack_trust.h.
#include "semantic_pack/pack_trust.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<PackTrust> kMembers[] = {
    member<&PackTrust::approval_state>("approval_state"),
    member<&PackTrust::signature_state>("signature_state"),
    member<&PackTrust::signed_by>("signed_by"),
    member<&PackTrust::signature_alg>("signature_alg"),
    member<&PackTrust::signature>("signature"),
};
constexpr auto kLayout = record_layout("struct PackTrust", kMembers);

} // namespace

VOK_RECORD_JSON(PackTrust, kLayout)

} // namespace vok::semantic_pack
