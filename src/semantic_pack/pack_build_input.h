// The input of a pack build: the reviewed content of one domain, its review decisions and,
// optionally, the pack it replaces.
//
// It is one JSON object of 16 keys, or an array of the 16 values in field order. Every key is
// required except `previous_pack`, which may be missing or null for "no previous pack"; an object
// there is read as a whole pack document. Unknown keys are skipped; a repeated key is refused. The
// records are read with the pack's own record readers, so their messages are the pack's too.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/enumerations.h"
#include "semantic_pack/review_record.h"
#include "semantic_pack/semantic_pack.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct PackBuildInput {
    std::string org_id;
    std::string domain_id;
    std::string pack_version;
    std::string meaning_version;
    ApprovalState approval = ApprovalState::Candidate;
    std::vector<ConceptDef> concepts;
    std::vector<RelationDef> relations;
    std::vector<MetricDef> metrics;
    std::vector<DimensionDef> dimensions;
    std::vector<UnitDef> units;
    std::vector<AliasDef> aliases;
    std::vector<MappingRuleDef> mapping_rules;
    std::vector<ReviewRecord> review_records;
    std::optional<SemanticPack> previous_pack;
    bool allow_first_approved_version = false;
    std::string source_graph_hash;

    static Result<PackBuildInput, json::Error> read(json::Deserializer& de);

    friend bool operator==(const PackBuildInput&, const PackBuildInput&) = default;
};

json::Status read_into(json::Deserializer& de, PackBuildInput& input);

// Reads a whole text holding exactly one build input (white space may follow). Nesting is limited
// as for a pack document, the previous pack and skipped values included; the error's `to_string`
// ends with the position where reading stopped.
Result<PackBuildInput, json::Error> parse_pack_build_input(std::string_view text);

} // namespace vok::semantic_pack
