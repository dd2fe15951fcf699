// Shared makings of the environment, fact and transform tests: configurations built in code, a
// clock the tests set, and short constructors for sources, transforms, envelopes and requests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "authority/clock.h"
#include "authority/environment.h"
#include "authority/fact_envelope.h"
#include "authority/request.h"
#include "json/text_deserializer.h"

namespace vok::authority::testing {

// A clock that answers what the test set, and counts its readings. `step_seconds` advances it
// after every reading.
class TestClock final : public Clock {
public:
    explicit TestClock(UtcInstant start, int64_t step_seconds = 0)
        : now_(start), step_(step_seconds) {}
    UtcInstant now() override {
        ++readings;
        const UtcInstant reading = now_;
        now_.seconds += step_;
        return reading;
    }
    void set(UtcInstant t) { now_ = t; }
    int readings = 0;

private:
    UtcInstant now_;
    int64_t step_;
};

inline UtcInstant at(std::string_view text) {
    auto t = parse_rfc3339(text);
    EXPECT_TRUE(t.ok()) << text;
    return t.ok() ? *t : UtcInstant{};
}

inline json::Value parse_value(std::string_view text) {
    json::TextDeserializer de(text);
    auto v = de.read_any();
    EXPECT_TRUE(v.ok() && de.finish().ok()) << text;
    return v.ok() ? *v : json::Value();
}

inline FactSource source(std::string id, SourceClass cls, std::vector<std::string> allowed_paths,
                         bool evidence_required = false, bool signature_required = false) {
    FactSource s;
    s.id = std::move(id);
    s.source_class = cls;
    s.allowed_paths = std::move(allowed_paths);
    s.evidence_required = evidence_required;
    s.signature_required = signature_required;
    return s;
}

inline FactTransform make_transform(std::string id, std::string version,
                                    std::vector<std::string> input_paths, std::string output_path) {
    FactTransform t;
    t.id = std::move(id);
    t.version = std::move(version);
    t.hash = "h-" + t.id;
    for (std::string& path : input_paths)
        t.inputs.push_back({std::move(path), {}});
    t.output.fact_path = std::move(output_path);
    return t;
}

// Semantics "s1", lowering version "c1", profile "p1", every unknown default Deny, no sources,
// transforms or packs.
inline AuthorityEnvironmentConfig base_config() {
    AuthorityEnvironmentConfig c;
    c.resolver_semantics_version = "s1";
    c.specificity_profile.id = "p1";
    c.specificity_profile.hash = "ph";
    c.unknown_handling.permission.default_ = FinalDecision::Deny;
    c.unknown_handling.prohibition.default_ = FinalDecision::Deny;
    c.unknown_handling.obligation.default_ = FinalDecision::Deny;
    c.unknown_handling.override_.default_ = FinalDecision::Deny;
    c.compatibility_lowering_version = "c1";
    c.resolver_version = "r1";
    return c;
}

inline AuthorityEnvironment validated(AuthorityEnvironmentConfig config) {
    auto env = build_environment(std::move(config));
    EXPECT_TRUE(env.ok()) << (env.ok() ? "" : env.error().to_string());
    auto ok = validate(*env);
    EXPECT_TRUE(ok.ok()) << (ok.ok() ? "" : ok.error().to_string());
    return std::move(*env);
}

inline FactEnvelope envelope(std::string path, json::Value value, SourceClass cls,
                             std::string source_id) {
    FactEnvelope f;
    f.path = std::move(path);
    f.value = std::move(value);
    f.source_class = cls;
    f.source_id = std::move(source_id);
    f.observed_at = at("2024-05-01T08:00:00Z");
    return f;
}

// Request "r1" by actor "u1" to "read" a resource of type "doc", with `context`.
inline AuthorityRequest request(json::Value context = json::Value()) {
    AuthorityRequest r;
    r.request_id = "r1";
    r.actor.id = "u1";
    r.operation = "read";
    r.resource.type = "doc";
    r.context = std::move(context);
    r.requested_at = at("2024-05-01T08:00:00Z");
    return r;
}

} // namespace vok::authority::testing
