// The tool that produced a pack; the definitions behind generator_info.h.
#include "semantic_pack/generator_info.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<GeneratorInfo> kMembers[] = {
    member<&GeneratorInfo::name>("name"),
    member<&GeneratorInfo::version>("version"),
};
constexpr auto kLayout = record_layout("struct GeneratorInfo", kMembers);

} // namespace

VOK_RECORD_JSON(GeneratorInfo, kLayout)

} // namespace vok::semantic_pack
