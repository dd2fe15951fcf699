// A metric of a pack, optionally measured in one of the pack's dimensions and units; the
// definitions behind metric_def.h.
#include "semantic_pack/metric_def.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<MetricDef> kMembers[] = {
    member<&MetricDef::id>("id"),
    member<&MetricDef::name>("name"),
    member<&MetricDef::dimension_id>("dimension_id"),
    member<&MetricDef::unit_id>("unit_id"),
    defaulted_member<&MetricDef::source_refs>("source_refs"),
};
constexpr auto kLayout = record_layout("struct MetricDef", kMembers);

} // namespace

VOK_RECORD_JSON(MetricDef, kLayout)

} // namespace vok::semantic_pack
