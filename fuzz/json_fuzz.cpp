// Fuzzes the JSON reader and writers (a value written and read back is the same value) and the
// typed policy reader, from text and from a parsed value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "expression/policy.h"
#include "json/text_deserializer.h"
#include "json/value_deserializer.h"
#include "json/writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto value = vok::json::parse(text);
    if (value.ok()) {
        std::string compact = vok::json::to_compact_string(*value);
        auto again = vok::json::parse(compact);
        if (!again.ok() || !(*again == *value)) std::abort();
        std::string pretty = vok::json::to_pretty_string(*value);
        auto pretty_again = vok::json::parse(pretty);
        if (!pretty_again.ok() || !(*pretty_again == *value)) std::abort();
        vok::json::ValueDeserializer de(*value);
        (void)vok::read_policy(de);
    }
    (void)vok::Policy::deserialize(text);
    return 0;
}
