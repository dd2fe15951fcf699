// Semantic packs made from the fuzzer's bytes, for the targets that sign, resolve, validate and
// diff packs. Every pack made here is a pack the reader accepts; its texts come from a small
// vocabulary that lines up (ids that aliases, relations and mapping rules name; names that differ
// only in case, white space or Unicode form) and carries what escaping must survive (quotes,
// backslashes, control characters, non-ASCII text), so that the checks, the lookup keys and the
// canonical JSON all have something to find.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_choices.h"
#include "semantic_pack/enumerations.h"
#include "semantic_pack/lookup_key.h"
#include "semantic_pack/semantic_pack.h"

namespace vok::fuzzing {

class PackGenerator {
public:
    explicit PackGenerator(Choices& c) : c_(c) {}

    std::string concept_id() { return c_.word({"c1", "c2", "c3", "C1", "net revenue", "", "c4"}); }

    std::string name() {
        return c_.word({"Net Revenue", "net  revenue", "Revenue", "caf\xc3\xa9", "cafe\xcc\x81",
                        "\xce\xa3\xce\x91\xce\xa3", "\xef\xac\x81le", "a\"b\\c", "tab\there", "",
                        "x", "line\nfeed",
                        "no\xc2\xa0"
                        "break",
                        "c1", "\x01"});
    }

    std::string plain() { return c_.word({"a", "b", "", "zz", "\xc3\xa9", "q\"", "v1"}); }

    template <class E> E pick_enum(size_t count) { return static_cast<E>(c_.pick(count)); }

    semantic_pack::SourceRef source_ref() {
        semantic_pack::SourceRef r;
        r.uri = c_.word({"file:a.vok", "file:b.vok", ""});
        r.start_byte = c_.pick_of<uint64_t>({0, 9, 10, UINT64_MAX});
        r.end_byte = c_.pick_of<uint64_t>({0, 10, UINT64_MAX});
        r.start_line = c_.pick_of<uint32_t>({0, 1, UINT32_MAX});
        return r;
    }

    std::vector<semantic_pack::SourceRef> source_refs() {
        std::vector<semantic_pack::SourceRef> out;
        for (size_t i = 0, n = c_.pick(3); i < n; ++i)
            out.push_back(source_ref());
        return out;
    }

    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (size_t i = 0, n = c_.pick(3); i < n; ++i)
            out.push_back(name());
        return out;
    }

    semantic_pack::ConceptDef concept_def() {
        using namespace semantic_pack;
        ConceptDef d;
        d.id = concept_id();
        d.canonical_name = name();
        d.kind = pick_enum<ConceptKind>(enum_count<ConceptKind>());
        d.status = pick_enum<ConceptStatus>(5);
        d.definition.text = c_.chance(15) ? "" : "the definition";
        d.definition.definition_hash = c_.word({"h1", "h2"});
        d.definition.decision_ref = "d";
        d.owner = c_.chance(15) ? "" : "owner";
        d.source_refs = source_refs();
        d.examples = texts();
        if (c_.chance(20)) d.counterexamples = texts();
        if (c_.chance(20)) d.allowed_predicates = texts();
        if (c_.chance(20)) d.valid_contexts = texts();
        return d;
    }

    semantic_pack::AliasDef alias() {
        semantic_pack::AliasDef a;
        a.alias = name();
        // Usually the stored key is the alias's own key; sometimes it is stale or foreign, as a
        // document may hold it.
        a.normalized_alias = c_.chance(80) ? semantic_pack::normalize_key(a.alias) : name();
        a.target_concept_id = concept_id();
        a.status = pick_enum<semantic_pack::AliasStatus>(4);
        if (c_.chance(30)) a.confidence = "0.9";
        a.decision_ref = "d";
        a.source_ref = source_ref();
        return a;
    }

    semantic_pack::SemanticPack pack() {
        using namespace semantic_pack;
        SemanticPack p;
        p.schema_version = c_.chance(90) ? "0.3" : c_.word({"0.3.0", "0.3 ", ""});
        p.pack_id = c_.word({"pack", "p\"q", "", "\xc3\xa9"});
        p.org_id = plain();
        p.domain_id = plain();
        p.pack_version = c_.word({"1", "2"});
        p.meaning_version =
            c_.word({"1.0.0", "1.2.0", "1.3.0", "1.2", "2.0.0", "x", "4294967295", "4294967296"});
        p.meaning_fingerprint = c_.word({"f1", "f2"});
        p.source_graph_hash = plain();
        p.build_config_hash = plain();
        p.review_manifest_hash = plain();
        p.created_at = c_.word({"2024-01-01T00:00:00Z", ""});
        p.generator = {"gen", "1"};
        p.trust.approval_state = pick_enum<ApprovalState>(3);
        p.trust.signature_state = pick_enum<SignatureState>(3);
        if (c_.chance(30)) p.trust.signed_by = plain();
        if (c_.chance(20)) p.trust.signature_alg = "ed25519";
        if (c_.chance(10)) p.trust.signature = "AAAA";
        for (size_t i = 0, n = c_.pick(6); i < n; ++i)
            p.concepts.push_back(concept_def());
        for (size_t i = 0, n = c_.pick(3); i < n; ++i) {
            RelationDef r;
            r.id = c_.word({"r1", "r2"});
            r.predicate = c_.word({"owns", "uses"});
            r.subject_id = concept_id();
            r.object_id = concept_id();
            if (c_.chance(30)) r.cardinality = "1..n";
            r.source_refs = source_refs();
            p.relations.push_back(std::move(r));
        }
        for (size_t i = 0, n = c_.pick(3); i < n; ++i) {
            MetricDef m;
            m.id = c_.word({"m1", "m2"});
            m.name = name();
            if (c_.chance(60)) m.dimension_id = c_.word({"d1", "d2"});
            if (c_.chance(60)) m.unit_id = c_.word({"u1", "u2"});
            m.source_refs = source_refs();
            p.metrics.push_back(std::move(m));
        }
        for (size_t i = 0, n = c_.pick(2); i < n; ++i)
            p.dimensions.push_back({c_.word({"d1", "d3"}), name(), source_refs()});
        for (size_t i = 0, n = c_.pick(2); i < n; ++i)
            p.units.push_back({c_.word({"u1", "u3"}), c_.word({"kg", "g"}), "d1", source_refs()});
        for (size_t i = 0, n = c_.pick(4); i < n; ++i)
            p.aliases.push_back(alias());
        for (size_t i = 0, n = c_.pick(3); i < n; ++i) {
            MappingRuleDef m;
            m.id = c_.word({"mr1", "mr2"});
            m.source_term = name();
            m.target_concept_id = concept_id();
            if (c_.chance(30)) m.confidence = "high";
            m.decision_ref = "d";
            p.mapping_rules.push_back(std::move(m));
        }
        p.compatibility.brisvandole_min_version = "0.1";
        if (c_.chance(30)) p.compatibility.deprecated_after = "2030";
        if (c_.chance(30)) p.compatibility.replaces_pack_ids = {"old", "older"};
        return p;
    }

private:
    Choices& c_;
};

} // namespace vok::fuzzing
