// Fuzzes the semantic-pack reader and writers: a pack that reads is written, read back to the same
// pack and written the same again, and its content hash does not depend on the order its
// collections came in. The same input also goes through the readers of the documents around a
// pack (options, review records, diagnostics, validation results).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "semantic_pack/canonical_json.h"
#include "semantic_pack/diagnostic.h"
#include "semantic_pack/review_record.h"
#include "semantic_pack/validation_options.h"
#include "semantic_pack/validation_result.h"

using namespace vok::semantic_pack;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto pack = parse_semantic_pack(text);
    if (pack.ok()) {
        const std::string document = pack->serialize();
        auto again = parse_semantic_pack(document);
        if (!again.ok() || !(*again == *pack) || again->serialize() != document) std::abort();
        const std::string hash = pack->content_hash();
        SemanticPack sorted = *pack;
        sort_pack_collections(sorted);
        if (sorted.content_hash() != hash || content_hash_of(std::move(*again)) != hash)
            std::abort();
    }
    (void)read_text<ValidationOptions>(text);
    (void)read_text<ReviewRecord>(text);
    (void)read_text<SemanticDiagnostic>(text);
    auto result = read_text<SemanticValidationResult>(text);
    if (result.ok()) {
        auto again = SemanticValidationResult::deserialize(result->serialize());
        if (!again.ok() || !(*again == *result)) std::abort();
    }
    return 0;
}
