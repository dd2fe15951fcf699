// Review records; the definitions behind review_record.h.
#include "semantic_pack/review_record.h"

namespace vok::semantic_pack {

namespace {

constexpr Member<ReviewRecord> kMembers[] = {
    member<&ReviewRecord::decision_id>("decision_id"),
    member<&ReviewRecord::subject_type>("subject_type"),
    member<&ReviewRecord::subject_id>("subject_id"),
    member<&ReviewRecord::decision>("decision"),
    member<&ReviewRecord::rationale>("rationale"),
    member<&ReviewRecord::reviewer>("reviewer"),
    member<&ReviewRecord::reviewed_at>("reviewed_at"),
    member<&ReviewRecord::definition_hash>("definition_hash"),
    member<&ReviewRecord::previous_definition_hash>("previous_definition_hash"),
    member<&ReviewRecord::new_definition_hash>("new_definition_hash"),
};
constexpr auto kLayout = record_layout("struct ReviewRecord", kMembers);

} // namespace

VOK_RECORD_JSON(ReviewRecord, kLayout)

std::string ReviewRecord::serialize() const {
    return record_text(*this, kLayout);
}

} // namespace vok::semantic_pack
