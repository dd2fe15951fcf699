// Reading the unknown-handling defaults and writing their hashed text; see unknown_handling.h.
#include "authority/unknown_handling.h"

#include "authority/record_fields.h"
#include "common/invariant.h"
#include "json/writer.h"

namespace vok::authority {

Result<UnknownHandlingDefault, json::Error> UnknownHandlingDefault::read(json::Deserializer& de) {
    UnknownHandlingDefault d;
    json::Field fields[] = {record_field("default", d.default_, &read_final_decision)};
    VOK_TRY(json::read_struct(de, "struct UnknownHandlingDefault", fields));
    return d;
}

FinalDecision UnknownHandlingConfig::default_for(PolicyModality modality) const {
    switch (modality) {
    case PolicyModality::Permission:
        return permission.default_;
    case PolicyModality::Prohibition:
        return prohibition.default_;
    case PolicyModality::Obligation:
        return obligation.default_;
    case PolicyModality::Override:
        return override_.default_;
    }
    invariant_failed("policy modality out of range");
}

Result<UnknownHandlingConfig, json::Error> UnknownHandlingConfig::read(json::Deserializer& de) {
    UnknownHandlingConfig c;
    json::Field fields[] = {
        record_field("permission", c.permission, &UnknownHandlingDefault::read),
        record_field("prohibition", c.prohibition, &UnknownHandlingDefault::read),
        record_field("obligation", c.obligation, &UnknownHandlingDefault::read),
        record_field("override_", c.override_, &UnknownHandlingDefault::read),
    };
    VOK_TRY(json::read_struct(de, "struct UnknownHandlingConfig", fields));
    return c;
}

std::string unknown_handling_defaults_text(const UnknownHandlingConfig& config) {
    std::string out;
    json::Writer w(out);
    w.begin_object();
    auto entry = [&](std::string_view key, const UnknownHandlingDefault& d) {
        w.key(key);
        w.begin_object();
        w.key("default");
        write_final_decision(w, d.default_);
        w.end_object();
    };
    entry("permission", config.permission);
    entry("prohibition", config.prohibition);
    entry("obligation", config.obligation);
    entry("override_", config.override_);
    w.end_object();
    return out;
}

} // namespace vok::authority
