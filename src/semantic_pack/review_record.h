// Review records: one human decision about one governed item of a pack build's input.
//
// The first eight keys are required; the two definition hashes of an amendment are optional
// texts (missing or null reads as absent; an absent one is left out when written).
#pragma once

#include <optional>
#include <string>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct ReviewRecord {
    std::string decision_id;
    std::string subject_type;
    std::string subject_id;
    ReviewDecision decision = ReviewDecision::Approve;
    std::string rationale;
    std::string reviewer;
    std::string reviewed_at;
    std::string definition_hash;
    std::optional<std::string> previous_definition_hash;
    std::optional<std::string> new_definition_hash;

    static Result<ReviewRecord, json::Error> read(json::Deserializer& de);
    // The compact JSON text of the record.
    std::string serialize() const;

    friend bool operator==(const ReviewRecord&, const ReviewRecord&) = default;
};

json::Status read_into(json::Deserializer& de, ReviewRecord& record);
void write_json(RecordWriter& w, const ReviewRecord& record);

} // namespace vok::semantic_pack
