// Source references: where an item of a pack, or a diagnostic, points.
//
// A `SourceRef` is a URI with a byte range and a line/column range. One whose six positions are
// all 0 names a whole document or an origin rather than a span (`from_uri`, `pack_source_ref`).
// Its JSON form is one object with the seven keys of the record, all required when read; byte
// offsets are unsigned 64-bit, lines and columns unsigned 32-bit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "semantic_pack/record_layout.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::semantic_pack {

struct SourceRef {
    std::string uri;
    uint64_t start_byte = 0;
    uint64_t end_byte = 0;
    uint32_t start_line = 0;
    uint32_t start_col = 0;
    uint32_t end_line = 0;
    uint32_t end_col = 0;

    static SourceRef from_uri(std::string_view uri);
    static Result<SourceRef, json::Error> read(json::Deserializer& de);
    // The compact JSON text of the reference.
    std::string serialize() const;

    friend bool operator==(const SourceRef&, const SourceRef&) = default;
};

json::Status read_into(json::Deserializer& de, SourceRef& ref);
void write_json(RecordWriter& w, const SourceRef& ref);

// The reference of a pack as a whole: "brisvandole://semantic-pack/" + the pack id, unchanged.
SourceRef pack_source_ref(std::string_view pack_id);

// Canonical order of source references: `uri` by bytes, then `start_byte`, then `end_byte`.
bool source_ref_less(const SourceRef& a, const SourceRef& b);

// Adds the member "source_refs" to a generic object: an array of the references as objects with
// the seven members, the positions as numbers.
void write_value_source_refs_entry(json::Object& object, const std::vector<SourceRef>& refs);

} // namespace vok::semantic_pack
