// Fuzzes the authority configuration reader, and the policy reader over every pack value a
// configuration keeps.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "authority/authority_policy.h"
#include "authority/environment_config.h"
#include "authority/unknown_handling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto config = vok::authority::AuthorityEnvironmentConfig::deserialize(text);
    if (!config.ok()) return 0;
    (void)vok::authority::unknown_handling_defaults_text(config->unknown_handling);
    for (const vok::json::Value& pack : config->authority_packs) {
        if (const vok::json::Value* policies = pack.get("policies"))
            (void)vok::authority::AuthorityPolicy::from_value_list(*policies);
        (void)vok::authority::AuthorityPolicy::from_value_list(pack);
    }
    return 0;
}
