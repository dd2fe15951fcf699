// The semantic-pack document: a domain's governed vocabulary with its hashes, trust and limits.
//
// A pack crosses the system's boundary only as JSON text. Reading is structural: every one of
// the 21 keys is required, each must hold a value of the right JSON type, keys may come in any
// order (or the 21 values as an array in field order), unknown keys are skipped, and nothing is
// judged: schema version, hashes, duplicate ids and signatures are taken as they are; validation
// and verification judge them. Lists keep the order of the document.
//
// Writing (`serialize`) gives the compact document with the keys in field order, absent optional
// texts left out with their key and every list written, "[]" when empty; reading that text gives
// back an equal pack. The content hash (`content_hash`, defined with the canonical JSON) covers
// the same form in canonical order, without the timestamp, the review manifest hash and the
// signature fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/alias_def.h"
#include "semantic_pack/compatibility_info.h"
#include "semantic_pack/concept_def.h"
#include "semantic_pack/dimension_def.h"
#include "semantic_pack/generator_info.h"
#include "semantic_pack/mapping_rule_def.h"
#include "semantic_pack/metric_def.h"
#include "semantic_pack/pack_trust.h"
#include "semantic_pack/record_layout.h"
#include "semantic_pack/relation_def.h"
#include "semantic_pack/unit_def.h"
#include "json/deserializer.h"
#include "json/error.h"

namespace vok::semantic_pack {

struct SemanticPack {
    std::string schema_version;
    std::string pack_id;
    std::string org_id;
    std::string domain_id;
    std::string pack_version;
    std::string meaning_version;
    std::string meaning_fingerprint;
    std::string source_graph_hash;
    std::string build_config_hash;
    std::string review_manifest_hash;
    std::string created_at;
    GeneratorInfo generator;
    PackTrust trust;
    std::vector<ConceptDef> concepts;
    std::vector<RelationDef> relations;
    std::vector<MetricDef> metrics;
    std::vector<DimensionDef> dimensions;
    std::vector<UnitDef> units;
    std::vector<AliasDef> aliases;
    std::vector<MappingRuleDef> mapping_rules;
    CompatibilityInfo compatibility;

    // Reads one pack at the reader's position and leaves the reader just after it.
    static Result<SemanticPack, json::Error> read(json::Deserializer& de);
    // The compact document text.
    std::string serialize() const;
    // The pack content hash: "sha256:" and 64 lowercase hex digits (see canonical_json.h).
    std::string content_hash() const;

    friend bool operator==(const SemanticPack&, const SemanticPack&) = default;
};

json::Status read_into(json::Deserializer& de, SemanticPack& pack);
void write_json(RecordWriter& w, const SemanticPack& pack);

// Reads a whole text holding exactly one pack document (white space may follow it). Nesting is
// limited to 127 levels, values skipped under unknown keys included. The error's `to_string`
// ends with the position where reading stopped.
Result<SemanticPack, json::Error> parse_semantic_pack(std::string_view text);

} // namespace vok::semantic_pack
