// Fuzzes the fact-envelope list reader; a lineage that was read is written and must read back the
// same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "authority/fact_envelope.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto facts = vok::authority::FactEnvelope::deserialize_list(text);
    if (!facts.ok()) return 0;
    for (const auto& fact : *facts) {
        if (!fact.lineage) continue;
        std::string written;
        vok::json::Writer w(written);
        fact.lineage->write(w);
        vok::json::TextDeserializer de(written);
        auto again = vok::authority::DerivedFactLineage::read(de);
        if (!again.ok() || again->input_fact_paths != fact.lineage->input_fact_paths ||
            again->input_source_classes != fact.lineage->input_source_classes ||
            again->effective_trust != fact.lineage->effective_trust)
            std::abort();
    }
    return 0;
}
