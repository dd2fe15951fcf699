// A plain model of one authority evaluation, written straight from the engine's rules and kept
// deliberately naive (a scan per lookup, every pair compared in the specificity cascade), so that
// the decision fuzz target can hold the engine's trace against it.
//
// The model reads the same JSON values the generator wrote (records in object form), with a
// clock that never moves: every reading is `now`. It predicts the error of an evaluation that
// must fail, or the fact store, the trust decisions, the lineage records, the candidate and
// applicable policies, the unknown decisions, the resolution steps and the decision.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "time/rfc3339.h"
#include "json/value.h"
#include "json/writer.h"

namespace vok::fuzzing::authority_model {

using json::Value;

struct Fact {
    std::string path;
    Value value;
    std::string source_class;
    std::string source_id;
    UtcInstant observed_at;
    std::optional<UtcInstant> expires_at;
    bool has_evidence = false;
    bool has_signature = false;
    std::optional<double> confidence;
    // The lineage's input classes and effective trust, when the fact carries one.
    std::optional<std::vector<std::string>> lineage_inputs;
    std::string lineage_trust;
    bool derived = false; // made by a transform of the environment
};

struct Lineage {
    std::string transform_id, transform_version, transform_hash;
    std::vector<std::string> input_paths, input_classes;
    std::string effective_trust;
};

struct UnknownDecision {
    std::string policy_id, modality, default_result, reason, classification;
    std::vector<std::string> affected_paths;
};

struct Step {
    std::string step, policy_id, result;
};

struct Outcome {
    std::optional<std::string> error; // the error's text form, when the evaluation must fail
    std::vector<Fact> store;
    std::vector<std::string> trust_reasons;
    std::vector<Lineage> lineage;
    std::vector<std::string> candidates, applicable;
    std::vector<UnknownDecision> unknowns;
    std::vector<Step> steps;
    std::string decision; // JSON name
    std::string reason_code;
};

inline const std::string& text_of(const Value& object, std::string_view key) {
    static const std::string empty;
    const Value* v = object.get(key);
    return v && v->is_string() ? v->as_string() : empty;
}

inline bool present(const Value& object, std::string_view key) {
    const Value* v = object.get(key);
    return v && !v->is_null();
}

inline const json::Array& list_of(const Value& object, std::string_view key) {
    static const json::Array empty;
    const Value* v = object.get(key);
    return v && v->is_array() ? v->as_array() : empty;
}

inline UtcInstant instant_of(const std::string& text) {
    auto parsed = parse_rfc3339(text);
    return parsed.ok() ? *parsed : UtcInstant{};
}

inline int trust_position(const std::string& source_class) {
    static const char* const order[] = {"system_of_record", "attested", "manual_approval",
                                        "runtime_observed", "derived",  "caller_supplied",
                                        "unknown_source"};
    for (int i = 0; i < 7; ++i)
        if (source_class == order[i]) return i;
    return 6;
}

// A derived fact is trusted as its lineage says; a lineage that came with an envelope is the
// sender's claim and may only lower the envelope's own class.
inline std::string trust_class(const Fact& f) {
    if (!f.lineage_inputs) return f.source_class;
    if (f.derived) return f.lineage_trust;
    return trust_position(f.lineage_trust) > trust_position(f.source_class) ? f.lineage_trust
                                                                            : f.source_class;
}

inline const Fact* first_fact(const std::vector<Fact>& store, const std::string& path) {
    for (const Fact& f : store)
        if (f.path == path) return &f;
    return nullptr;
}

inline bool path_allowed(const std::string& allowed, const std::string& path) {
    if (path == allowed) return true;
    if (!allowed.empty() && allowed.back() == '.') return path.rfind(allowed, 0) == 0;
    return path.rfind(allowed + ".", 0) == 0;
}

inline void flatten(const json::Object& object, const std::string& prefix, bool has_prefix,
                    UtcInstant now, std::vector<Fact>& out) {
    for (const auto& [key, value] : object) {
        const std::string path = has_prefix ? prefix + "." + key : key;
        if (value.is_object()) {
            flatten(value.as_object(), path, true, now, out);
            continue;
        }
        Fact f;
        f.path = path;
        f.value = value;
        f.source_class = "caller_supplied";
        f.source_id = "caller";
        f.observed_at = now;
        out.push_back(std::move(f));
    }
}

inline Fact envelope_fact(const Value& e) {
    Fact f;
    f.path = text_of(e, "path");
    f.value = e.get("value") ? *e.get("value") : Value();
    f.source_class = text_of(e, "source_class");
    f.source_id = text_of(e, "source_id");
    f.observed_at = instant_of(text_of(e, "observed_at"));
    if (present(e, "expires_at")) f.expires_at = instant_of(text_of(e, "expires_at"));
    f.has_evidence = present(e, "evidence_ref");
    f.has_signature = present(e, "signature");
    if (present(e, "confidence")) f.confidence = e.get("confidence")->as_number().to_f64();
    if (present(e, "lineage")) {
        const Value& l = *e.get("lineage");
        std::vector<std::string> inputs;
        for (const Value& c : list_of(l, "input_source_classes"))
            inputs.push_back(c.as_string());
        f.lineage_inputs = std::move(inputs);
        f.lineage_trust = text_of(l, "effective_trust");
    }
    return f;
}

inline __int128 nanos_of(UtcInstant t) {
    return static_cast<__int128>(t.seconds) * 1'000'000'000 + t.nanos;
}

inline bool in_list(const json::Array& list, const std::string& text) {
    for (const Value& v : list)
        if (v.is_string() && v.as_string() == text) return true;
    return false;
}

inline bool meets(const Value& requirement, const Fact& f, UtcInstant now) {
    if (f.path != text_of(requirement, "fact_path")) return false;
    if (!in_list(list_of(requirement, "allowed_source_classes"), trust_class(f))) return false;
    const json::Array& ids = list_of(requirement, "allowed_source_ids");
    if (!ids.empty() && !in_list(ids, f.source_id)) return false;
    const Value* evidence = requirement.get("evidence_ref_required");
    if (evidence && evidence->is_bool() && evidence->as_bool() && !f.has_evidence) return false;
    const Value* signature = requirement.get("signature_required");
    if (signature && signature->is_bool() && signature->as_bool() && !f.has_signature) return false;
    if (present(requirement, "minimum_confidence")) {
        const double least = requirement.get("minimum_confidence")->as_number().to_f64();
        if (!(f.confidence && *f.confidence >= least)) return false;
    }
    if (present(requirement, "derived_from_source")) {
        const json::Array& allowed = list_of(requirement, "derived_from_source");
        if (f.lineage_inputs) {
            for (const std::string& c : *f.lineage_inputs)
                if (!in_list(allowed, c)) return false;
        } else if (f.source_class == "derived") {
            return false;
        }
    }
    if (present(requirement, "max_age")) {
        const json::Array& age = requirement.get("max_age")->as_array();
        const __int128 span = static_cast<__int128>(age[0].as_number().as_i64()) * 1'000'000'000 +
                              static_cast<__int128>(age[1].as_number().as_i64());
        if (nanos_of(f.observed_at) < nanos_of(now) - span) return false;
    }
    return true;
}

// The actual value of a structural key, or nothing for an absent optional part.
inline Value structural_value(const Value& request, const std::string& key) {
    const Value& actor = *request.get("actor");
    const Value& resource = *request.get("resource");
    auto optional_text = [](const Value& object, std::string_view name) {
        return present(object, name) ? *object.get(name) : Value();
    };
    if (key == "action") return *request.get("operation");
    if (key == "actor.id") return *actor.get("id");
    if (key == "actor.role") return optional_text(actor, "role");
    if (key == "resource.id") return optional_text(resource, "id");
    if (key == "resource.type") return optional_text(resource, "type");
    const Value* metadata = request.get("metadata");
    const Value* v = metadata ? metadata->get(key) : nullptr;
    return v ? *v : Value();
}

inline int modality_rank(const std::string& modality) {
    if (modality == "Permission") return 2;
    if (modality == "Obligation") return 3;
    if (modality == "Prohibition") return 4;
    return 5;
}

inline std::string variant_of(const std::string& decision) {
    if (decision == "allow") return "Allow";
    if (decision == "deny") return "Deny";
    if (decision == "escalate") return "Escalate";
    if (decision == "not_applicable") return "NotApplicable";
    return "Reject";
}

inline std::string word_of(const std::string& decision) {
    if (decision == "allow") return "allowed";
    if (decision == "deny") return "denied";
    if (decision == "escalate") return "escalated";
    if (decision == "not_applicable") return "not_applicable";
    return "rejected";
}

inline std::string joined(const std::vector<const Value*>& policies) {
    std::string out;
    for (const Value* p : policies) {
        if (!out.empty()) out += ',';
        out += text_of(*p, "policy_id");
    }
    return out;
}

inline std::vector<uint32_t> scores(const Value& policy, const json::Array& dimensions) {
    std::vector<uint32_t> out;
    for (const Value& d : dimensions) {
        uint32_t n = 0;
        for (const auto& entry : policy.get("applies_to")->as_object()) {
            const std::string& key = entry.first;
            if (key == d.as_string() || key.rfind(d.as_string() + ".", 0) == 0) ++n;
        }
        out.push_back(n);
    }
    if (present(policy, "when")) {
        for (size_t i = 0; i < dimensions.size(); ++i) {
            if (dimensions[i].as_string() == "condition") {
                out[i] += static_cast<uint32_t>(policy.get("when")->as_object().size());
                break;
            }
        }
    }
    return out;
}

// The score of the first entry of this name (entries of a repeated name after it do not count).
inline uint32_t score_of(const std::vector<uint32_t>& s, const json::Array& dimensions,
                         const std::string& name) {
    for (size_t i = 0; i < dimensions.size(); ++i)
        if (dimensions[i].as_string() == name) return s[i];
    return 0;
}

inline Outcome evaluate(const Value& config, const Value& request, const json::Array& envelopes,
                        UtcInstant now) {
    Outcome out;
    // Request checks.
    if (text_of(request, "request_id").empty()) {
        out.error = "[InvalidRequest] request_id is required";
        return out;
    }
    if (text_of(*request.get("actor"), "id").empty()) {
        out.error = "[InvalidRequest] actor.id is required";
        return out;
    }
    if (text_of(request, "operation").empty()) {
        out.error = "[InvalidRequest] operation is required";
        return out;
    }
    const Value& resource = *request.get("resource");
    if (!present(resource, "id") && !present(resource, "type")) {
        out.error = "[InvalidRequest] resource must include at least id or type";
        return out;
    }

    // Caller facts, then the trusted envelopes.
    std::vector<Fact>& store = out.store;
    if (const Value* context = request.get("context"); context && context->is_object())
        flatten(context->as_object(), "", false, now, store);
    std::map<std::string, const Value*> sources; // the later record of an id stands
    for (const Value& s : list_of(config, "fact_sources"))
        sources[text_of(s, "id")] = &s;
    for (const Value& e : envelopes) {
        Fact f = envelope_fact(e);
        std::string reason = "trusted";
        auto found = sources.find(f.source_id);
        if (found == sources.end()) {
            reason = "unregistered_source";
        } else {
            const Value& source = *found->second;
            bool allowed = false;
            for (const Value& p : list_of(source, "allowed_paths"))
                allowed = allowed || path_allowed(p.as_string(), f.path);
            if (f.source_class != text_of(source, "source_class"))
                reason = "source_class_mismatch";
            else if (!allowed)
                reason = "path_not_allowed";
            else if (source.get("evidence_required")->as_bool() && !f.has_evidence)
                reason = "missing_evidence_ref";
            else if (source.get("signature_required")->as_bool() && !f.has_signature)
                reason = "missing_signature";
            else if (f.expires_at && !(now < *f.expires_at))
                reason = "stale_fact";
        }
        out.trust_reasons.push_back(reason);
        if (reason != "trusted") continue;
        auto same = std::find_if(store.begin(), store.end(),
                                 [&](const Fact& g) { return g.path == f.path; });
        if (same != store.end())
            *same = std::move(f);
        else
            store.push_back(std::move(f));
    }

    // Transforms, each against the store as trust left it.
    std::map<std::string, const Value*> registry;
    for (const Value& t : list_of(config, "fact_transforms"))
        registry[text_of(t, "id") + "@" + text_of(t, "version")] = &t;
    std::vector<Fact> pending;
    for (const Value& entry : list_of(config, "fact_transforms")) {
        const std::string key = text_of(entry, "id") + "@" + text_of(entry, "version");
        if (std::count(key.begin(), key.end(), '@') != 1) {
            out.error = "[InvalidTransform] Transform '" + key +
                        "' invalid: Transform key must be in format id@version";
            return out;
        }
        const Value& t = *registry.at(key);
        std::vector<const Fact*> inputs;
        for (const Value& input : list_of(t, "inputs"))
            inputs.push_back(first_fact(store, text_of(input, "fact_path")));
        if (std::find(inputs.begin(), inputs.end(), nullptr) != inputs.end()) continue;
        Lineage l{text_of(t, "id"), text_of(t, "version"), text_of(t, "hash"), {}, {}, ""};
        int weakest = -1;
        Fact d;
        json::Array values;
        for (const Fact* f : inputs) {
            l.input_paths.push_back(f->path);
            l.input_classes.push_back(trust_class(*f));
            weakest = std::max(weakest, trust_position(trust_class(*f)));
            values.push_back(f->value);
            if (f->expires_at && (!d.expires_at || *f->expires_at < *d.expires_at))
                d.expires_at = f->expires_at;
            if (f->confidence && (!d.confidence || *f->confidence < *d.confidence))
                d.confidence = f->confidence;
        }
        static const char* const order[] = {"system_of_record", "attested", "manual_approval",
                                            "runtime_observed", "derived",  "caller_supplied",
                                            "unknown_source"};
        l.effective_trust = order[weakest < 0 ? 6 : weakest];
        d.path = text_of(*t.get("output"), "fact_path");
        d.value = values.size() == 1 ? values.front() : Value(std::move(values));
        d.source_class = "derived";
        d.source_id = key;
        d.observed_at = now;
        d.lineage_inputs = l.input_classes;
        d.lineage_trust = l.effective_trust;
        d.derived = true;
        pending.push_back(std::move(d));
        out.lineage.push_back(std::move(l));
    }
    for (Fact& d : pending)
        store.push_back(std::move(d));

    // Candidates and their evaluation.
    const Value& unknown_handling = *config.get("unknown_handling");
    auto default_of = [&](const std::string& modality) {
        const char* key = modality == "Permission"    ? "permission"
                          : modality == "Prohibition" ? "prohibition"
                          : modality == "Obligation"  ? "obligation"
                                                      : "override_";
        return text_of(*unknown_handling.get(key), "default");
    };
    std::vector<const Value*> applicable;
    std::vector<std::string> outcomes; // of the applicable policies, in order
    bool any_candidate = false;
    for (const Value& pack : list_of(config, "authority_packs")) {
        for (const Value& policy : list_of(pack, "policies")) {
            bool candidate = true;
            for (const auto& [key, expected] : policy.get("applies_to")->as_object())
                candidate = candidate && structural_value(request, key) == expected;
            if (!candidate) continue;
            any_candidate = true;
            out.candidates.push_back(text_of(policy, "policy_id"));
            const std::string modality = text_of(policy, "modality");
            std::vector<std::string> unmet;
            for (const Value& requirement : list_of(policy, "requires_fact")) {
                bool met = false;
                for (const Fact& f : store)
                    if (meets(requirement, f, now)) {
                        met = true;
                        break;
                    }
                if (!met) unmet.push_back(text_of(requirement, "fact_path"));
            }
            enum { Satisfied, NotSatisfied, Unknown } status = Satisfied;
            if (!unmet.empty()) {
                status = Unknown;
            } else if (present(policy, "when")) {
                bool unknown = false, fail = false;
                for (const auto& [path, expected] : policy.get("when")->as_object()) {
                    const Fact* f = first_fact(store, path);
                    if (!f || f->value.is_null()) {
                        unknown = true;
                        continue;
                    }
                    const Value* unwanted =
                        expected.is_object() ? expected.as_object().find("__neq") : nullptr;
                    const bool pass = unwanted ? !(f->value == *unwanted) : f->value == expected;
                    fail = fail || !pass;
                }
                status = fail ? NotSatisfied : unknown ? Unknown : Satisfied;
            }
            std::string result;
            if (status == Unknown) {
                const std::string fallback = default_of(modality);
                const bool missing = !unmet.empty();
                out.unknowns.push_back({text_of(policy, "policy_id"), modality, fallback,
                                        missing ? "missing" : "unknown",
                                        missing ? "caller_omission" : "availability_failure",
                                        unmet});
                if (fallback == "not_applicable") continue;
                result = fallback;
            } else if (status == NotSatisfied) {
                continue;
            } else {
                result = modality == "Prohibition" ? "deny" : "allow";
            }
            applicable.push_back(&policy);
            outcomes.push_back(result);
            out.applicable.push_back(text_of(policy, "policy_id"));
        }
    }

    // Resolution.
    auto outcome_of = [&](const Value* p) {
        return outcomes[size_t(std::find(applicable.begin(), applicable.end(), p) -
                               applicable.begin())];
    };
    auto resolved = [&](const char* step, const Value* p) {
        out.decision = outcome_of(p);
        out.steps.push_back({step, text_of(*p, "policy_id"), variant_of(out.decision)});
    };
    if (!any_candidate) {
        out.decision = "not_applicable";
        out.reason_code = "no_applicable_policy";
        return out;
    }
    if (applicable.empty()) {
        out.decision = "not_applicable";
        out.reason_code = "no_applicable_policy_after_evaluation";
        return out;
    }
    if (applicable.size() == 1) {
        resolved("single_applicable", applicable.front());
    } else {
        int rank = 0;
        for (const Value* p : applicable)
            rank = std::max(rank, modality_rank(text_of(*p, "modality")));
        std::vector<const Value*> kept;
        for (const Value* p : applicable)
            if (modality_rank(text_of(*p, "modality")) == rank) kept.push_back(p);
        out.steps.push_back(
            {"modality_precedence", joined(kept), "modality_rank=" + std::to_string(rank)});
        if (kept.size() == 1) {
            resolved("modality_resolved", kept.front());
        } else {
            auto priority = [](const Value* p) { return p->get("priority")->as_number().to_f64(); };
            double top = priority(kept.front());
            for (const Value* p : kept)
                top = std::max(top, priority(p));
            std::vector<const Value*> best;
            for (const Value* p : kept)
                if (priority(p) == top) best.push_back(p);
            out.steps.push_back({"priority_filter", joined(best),
                                 "priority=" + std::to_string(static_cast<int64_t>(top))});
            if (best.size() == 1) {
                resolved("highest_priority", best.front());
            } else {
                const json::Array& dimensions =
                    list_of(*config.get("specificity_profile"), "dimensions");
                std::vector<bool> dominated(best.size(), false);
                for (size_t i = 0; i < best.size(); ++i) {
                    if (dominated[i]) continue;
                    for (size_t j = 0; j < best.size(); ++j) {
                        if (j == i || dominated[j]) continue;
                        const auto si = scores(*best[i], dimensions);
                        const auto sj = scores(*best[j], dimensions);
                        bool i_ge = true, i_gt = false, j_ge = true, j_gt = false;
                        for (const Value& d : dimensions) {
                            const uint32_t a = score_of(si, dimensions, d.as_string());
                            const uint32_t b = score_of(sj, dimensions, d.as_string());
                            i_ge = i_ge && a >= b;
                            i_gt = i_gt || a > b;
                            j_ge = j_ge && b >= a;
                            j_gt = j_gt || b > a;
                        }
                        if (i_ge && i_gt)
                            dominated[j] = true;
                        else if (j_ge && j_gt)
                            dominated[i] = true;
                    }
                }
                std::vector<const Value*> open;
                for (size_t i = 0; i < best.size(); ++i)
                    if (!dominated[i]) open.push_back(best[i]);
                if (open.size() == 1) {
                    resolved("specificity_resolved", open.front());
                } else {
                    out.steps.push_back({"specificity_incomparable", joined(open), "incomparable"});
                    if (config.get("strict_mode")->as_bool()) {
                        out.error = "[SpecificityConflict] Incomparable specificity between '" +
                                    text_of(*open[0], "policy_id") + "' and '" +
                                    (open.size() > 1 ? text_of(*open[1], "policy_id") : "?") + "'";
                        return out;
                    }
                    out.decision = "escalate";
                }
            }
        }
    }
    out.reason_code = word_of(out.decision) + "_by_" + out.steps.back().policy_id;
    return out;
}

} // namespace vok::fuzzing::authority_model
