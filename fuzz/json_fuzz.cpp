// Fuzzes the JSON reader and writers (a value written and read back is the same value), the
// bounded count of a value's values (a limit only ever cuts the whole count short), and the typed
// policy reader, from text and from a parsed value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "expression/policy.h"
#include "json/text_deserializer.h"
#include "json/value.h"
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
        const std::size_t all = vok::json::count_values(*value, SIZE_MAX);
        for (const std::size_t limit :
             {std::size_t{1}, std::size_t{2}, all / 2 + 1, all, all + 1}) {
            if (vok::json::count_values(*value, limit) != std::min(all, limit)) std::abort();
        }
        vok::json::ValueDeserializer de(*value);
        (void)vok::read_policy(de);
    }
    (void)vok::Policy::deserialize(text);
    return 0;
}
