// The pack diff: how the concepts of one pack version differ from the previous one.
//
// Only the concepts (presence, definition hash, status) and the pack's meaning fingerprint and
// meaning version are compared; every change is classified by what it does to a consumer of the
// pack, from breaking to additive. Definition hashes are compared as the documents store them,
// never recomputed. The entries come sorted most severe first (diff_entry.h), with a count per
// classification.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/error_variant.h"
#include "common/result.h"
#include "semantic_pack/diff_entry.h"
#include "semantic_pack/semantic_pack.h"
#include "json/error.h"

namespace vok::semantic_pack {

struct PackDiff {
    std::string old_pack_id;
    std::string new_pack_id;
    std::vector<PackDiffEntry> entries;
    // The number of entries of each classification, indexed by its value.
    std::array<uint64_t, enum_count<DiffClassification>()> counts{};
};

PackDiff diff_packs(const SemanticPack& old_pack, const SemanticPack& new_pack);

// The report as one compact JSON object: the two pack ids, the entries and the summary counts.
std::string write_pack_diff(const PackDiff& diff);

// Why two pack documents could not be compared: one of them is not a readable pack. `to_string`
// names the side ("old pack: " and the reader's text); callers that word it their own way ask
// `kind()` and `reader_error()`.
struct DiffErrorAlternatives {
    // Rows in diff_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_DIFF_ERROR_KIND(Name) Name,
#include "semantic_pack/diff_error_kind.def"
    };
    struct OldPack {
        json::Error error;
    };
    struct NewPack {
        json::Error error;
    };
    using Variant = VariantOfRows<void
#define VOK_DIFF_ERROR_KIND(Name) , Name
#include "semantic_pack/diff_error_kind.def"
                                  >::type;
};

struct DiffError : ErrorVariant<DiffErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The pack reader's error, whichever side it came from.
    const json::Error& reader_error() const;
    std::string to_string() const;
};

// Reads the old document, then the new one, and writes their diff report.
Result<std::string, DiffError> diff_pack_documents(std::string_view old_json,
                                                   std::string_view new_json);

} // namespace vok::semantic_pack
