// Pack references: which pack a diagnostic or a validation concerns.
//
// A `PackRef` names one pack with its content hash, where it came from and its priority (a signed
// 32-bit number, written with a leading "-" when negative); a `PackSetRef` names the packs of a
// validation together with the hash of their merged content. All keys are required when read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"

namespace vok::semantic_pack {

struct SemanticPack;

struct PackRef {
    std::string pack_id;
    std::string pack_content_hash;
    std::string path_or_uri;
    int32_t priority = 0;

    // The reference of a whole pack: its id, its content hash, "pack://" + the id, priority 0.
    static PackRef for_pack(const SemanticPack& pack);
    static Result<PackRef, json::Error> read(json::Deserializer& de);
    // The compact JSON text of the reference.
    std::string serialize() const;

    friend bool operator==(const PackRef&, const PackRef&) = default;
};

struct PackSetRef {
    std::string merged_pack_hash;
    std::vector<PackRef> pack_refs;

    static Result<PackSetRef, json::Error> read(json::Deserializer& de);

    friend bool operator==(const PackSetRef&, const PackSetRef&) = default;
};

json::Status read_into(json::Deserializer& de, PackRef& ref);
void write_json(RecordWriter& w, const PackRef& ref);
json::Status read_into(json::Deserializer& de, PackSetRef& ref);
void write_json(RecordWriter& w, const PackSetRef& ref);

} // namespace vok::semantic_pack
