// The pack build: reading its input, the checks and their order, the hashes, the stamp and the
// approval rule. Inputs are made as records; the reader tests use JSON text.
#include "semantic_pack/build_pack.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "pack_test_util.h"
#include "semantic_pack/canonical_json.h"

namespace vok::semantic_pack {
namespace {

ConceptDef concept_def(std::string id, std::string name = "", std::string text = "a text",
                       std::string owner = "owner") {
    ConceptDef c;
    c.canonical_name = name.empty() ? id : std::move(name);
    c.id = std::move(id);
    c.definition.text = std::move(text);
    c.owner = std::move(owner);
    return c;
}

AliasDef alias_def(std::string alias, std::string key, std::string target,
                   AliasStatus status = AliasStatus::Approved) {
    AliasDef a;
    a.alias = std::move(alias);
    a.normalized_alias = std::move(key);
    a.target_concept_id = std::move(target);
    a.status = status;
    return a;
}

// A record whose hash is that of `concept_def(subject_id)`, unless one is given.
ReviewRecord record(std::string decision_id, std::string subject_id, std::string hash = "",
                    ReviewDecision decision = ReviewDecision::Approve) {
    ReviewRecord r;
    r.decision_id = std::move(decision_id);
    r.subject_type = "concept";
    r.subject_id = std::move(subject_id);
    r.decision = decision;
    r.definition_hash = hash.empty() ? definition_hash(concept_def(r.subject_id)) : std::move(hash);
    return r;
}

PackBuildInput input(ApprovalState approval = ApprovalState::Candidate) {
    PackBuildInput in;
    in.org_id = "acme";
    in.domain_id = "sales";
    in.pack_version = "2";
    in.meaning_version = "1.0.0";
    in.approval = approval;
    in.source_graph_hash = "g";
    return in;
}

UtcInstant fixed_clock() {
    return {1700000000, 250000000};
}

PackBuildResult build(PackBuildInput in) {
    return build_pack(std::move(in), fixed_clock);
}

std::vector<std::string> codes(const std::vector<SemanticDiagnostic>& diagnostics) {
    std::vector<std::string> out;
    for (const auto& d : diagnostics)
        out.emplace_back(json_name(d.code));
    return out;
}

using Codes = std::vector<std::string>;

// ---- Reading the input ----

const char* const kInputText =
    R"({"org_id":"acme","domain_id":"sales","pack_version":"2","meaning_version":"1.0",)"
    R"("approval":"candidate","concepts":[],"relations":[],"metrics":[],"dimensions":[],)"
    R"("units":[],"aliases":[],"mapping_rules":[],"review_records":[],)"
    R"("allow_first_approved_version":false,"source_graph_hash":"g")";

std::string input_text(const std::string& extra = "") {
    return std::string(kInputText) + extra + "}";
}

TEST(PackBuildInput, ReadsTheObjectAndTheArrayFormAlike) {
    auto object =
        parse_pack_build_input(input_text(R"(,"unknown":{"x":[1,{}]},"previous_pack":null)"));
    ASSERT_TRUE(object.ok()) << object.error().to_string();
    EXPECT_FALSE(object->previous_pack);
    EXPECT_EQ(object->pack_version, "2");
    auto array = parse_pack_build_input(
        R"(["acme","sales","2","1.0","candidate",[],[],[],[],[],[],[],[],null,false,"g"])");
    ASSERT_TRUE(array.ok()) << array.error().to_string();
    EXPECT_EQ(*array, *object);

    auto with_pack =
        parse_pack_build_input(input_text(",\"previous_pack\":" + testing::pack_text()));
    ASSERT_TRUE(with_pack.ok()) << with_pack.error().to_string();
    ASSERT_TRUE(with_pack->previous_pack);
    EXPECT_EQ(with_pack->previous_pack->meaning_fingerprint, "f");
}

TEST(PackBuildInput, RefusalsNameTheFieldOrTheRecord) {
    struct Case {
        std::string text;
        std::string starts;
    };
    std::string without_allow = kInputText;
    without_allow.replace(without_allow.find("\"allow_first"), 37, "");
    for (const Case& c : std::vector<Case>{
             {without_allow + R"(,"x":1})", "missing field `allow_first_approved_version`"},
             {input_text(R"(,"org_id":"x")"), "duplicate field `org_id`"},
             {"\"text\"", "invalid type: string \"text\", expected struct PackBuildInput"},
             {R"(["acme"])", "invalid length 1, expected struct PackBuildInput with 16 elements"},
             {input_text(R"(,"previous_pack":{})"), "missing field `schema_version`"},
             {input_text(R"(,"previous_pack":"p")"), "invalid type: string \"p\""},
             {input_text(R"(,"previous_pack":{"deep":)" + std::string(200, '[') +
                         std::string(200, ']') + "}"),
              "recursion limit exceeded"},
             {input_text() + "x", "trailing characters"},
         }) {
        auto read = parse_pack_build_input(c.text);
        ASSERT_FALSE(read.ok()) << c.text;
        EXPECT_EQ(read.error().to_string().rfind(c.starts, 0), 0u) << read.error().to_string();
        EXPECT_NE(read.error().to_string().find(" at line "), std::string::npos);
    }
}

// ---- The checks ----

TEST(PackBuild, ApprovedWithoutReviewOrBaselineIsRefused) {
    PackBuildInput in = input(ApprovalState::Approved);
    in.concepts = {concept_def("c1")};
    PackBuildResult refused = build(in);
    EXPECT_TRUE(refused.refused());
    EXPECT_EQ(codes(refused.diagnostics),
              Codes({"unreviewed_concept", "meaning_version_baseline_missing"}));
    const SemanticDiagnostic& first = refused.diagnostics[0];
    EXPECT_EQ(first.message, "Concept 'c1' lacks review approval");
    EXPECT_EQ(first.source_ref, pack_source_ref("acme/sales/2"));
    EXPECT_EQ(first.source_ref.uri, "brisvandole://semantic-pack/acme/sales/2");
    EXPECT_EQ(first.pack_ref, (PackRef{"acme/sales/2", "", "", 0}));

    in.allow_first_approved_version = true;
    in.review_records = {record("r1", "c1")};
    in.review_records[0].subject_type = "metric"; // the subject type is not compared
    PackBuildResult built = build(in);
    ASSERT_FALSE(built.refused());
    EXPECT_TRUE(built.diagnostics.empty());
    EXPECT_EQ(built.pack->trust.approval_state, ApprovalState::Approved);
}

TEST(PackBuild, CandidateAndRejectedBuildsAreNeverRefused) {
    for (ApprovalState state : {ApprovalState::Candidate, ApprovalState::Rejected}) {
        PackBuildInput in = input(state);
        in.concepts = {concept_def("c1"), concept_def("c1")};
        in.review_records = {record("r1", "c1", "wrong")};
        PackBuildResult built = build(in);
        ASSERT_FALSE(built.refused());
        EXPECT_EQ(codes(built.diagnostics), Codes({"duplicate_concept_id"}));
    }
}

TEST(PackBuild, MissingDefinitionsThenOwnersOfActiveConceptsOnly) {
    PackBuildInput in = input(ApprovalState::Approved);
    in.allow_first_approved_version = true;
    in.concepts = {concept_def("a", "", "", ""), concept_def("b", "", ""),
                   concept_def("d", "", "", "")};
    in.concepts[2].status = ConceptStatus::Deprecated;
    in.concepts[1].definition.text = "";
    in.review_records = {record("r1", "a", definition_hash(in.concepts[0])),
                         record("r2", "b", definition_hash(in.concepts[1]))};
    PackBuildResult built = build(in);
    ASSERT_FALSE(built.refused()); // warnings never refuse
    ASSERT_EQ(codes(built.diagnostics),
              Codes({"missing_definition", "missing_definition", "missing_owner"}));
    EXPECT_EQ(built.diagnostics[0].message, "Active concept 'a' missing definition");
    EXPECT_EQ(built.diagnostics[1].message, "Active concept 'b' missing definition");
    EXPECT_EQ(built.diagnostics[2].message, "Active concept 'a' missing owner");
    EXPECT_EQ(built.diagnostics[0].severity, DiagnosticSeverity::Warning);
    EXPECT_EQ(built.diagnostics[0].semantic_truth, SemanticTruth::Unknown);
    EXPECT_EQ(built.diagnostics[0].recoverability_hint, "Add definition text");
    const ConceptDef& deprecated = built.pack->concepts[2];
    EXPECT_EQ(deprecated.id, "d");
    EXPECT_EQ(deprecated.definition.definition_hash, definition_hash(deprecated));
}

TEST(PackBuild, DuplicateIdsAndCanonicalNames) {
    PackBuildInput in = input();
    in.concepts = {concept_def("x"), concept_def("x"), concept_def("x")};
    EXPECT_EQ(codes(build(in).diagnostics),
              Codes({"duplicate_concept_id", "duplicate_concept_id"}));

    in.concepts = {concept_def("a", "Net Revenue"), concept_def("b", " net \t revenue  ")};
    PackBuildResult built = build(in);
    ASSERT_EQ(codes(built.diagnostics), Codes({"duplicate_canonical_name"}));
    EXPECT_EQ(built.diagnostics[0].message,
              "Duplicate canonical name ' net \t revenue  ' for concepts 'a' and 'b'");
    EXPECT_EQ(built.diagnostics[0].recoverability_hint, "Ensure canonical names are unique");
}

TEST(PackBuild, AliasTargetsAndGroups) {
    struct Case {
        AliasStatus first, second;
        std::string second_target;
        Codes main;
        Codes warnings;
    };
    for (const Case& c : std::vector<Case>{
             {AliasStatus::Approved, AliasStatus::Ambiguous, "b", {"alias_conflict"}, {}},
             {AliasStatus::Deprecated, AliasStatus::Ambiguous, "b", {"alias_conflict"}, {}},
             {AliasStatus::Ambiguous, AliasStatus::Ambiguous, "b", {}, {"ambiguous_alias_group"}},
             {AliasStatus::Approved, AliasStatus::Blocked, "b", {}, {}},
             {AliasStatus::Approved, AliasStatus::Approved, "a", {}, {}},
         }) {
        PackBuildInput in = input();
        in.concepts = {concept_def("a"), concept_def("b")};
        in.aliases = {alias_def("NR", "nr", "a", c.first),
                      alias_def("nr", "nr", c.second_target, c.second)};
        PackBuildResult built = build(in);
        EXPECT_EQ(codes(built.diagnostics), c.main);
        EXPECT_EQ(codes(built.alias_group_warnings), c.warnings);
        if (!built.alias_group_warnings.empty()) {
            EXPECT_EQ(built.alias_group_warnings[0].message,
                      "Ambiguous-only alias group for key 'nr'");
            EXPECT_EQ(built.alias_group_warnings[0].recoverability_hint, "");
        }
        if (!built.diagnostics.empty()) {
            EXPECT_EQ(built.diagnostics[0].message,
                      "Alias conflict for key 'nr': multiple targets through approved/deprecated "
                      "entries");
        }
    }

    PackBuildInput in = input();
    in.concepts = {concept_def("a"), concept_def("b")};
    in.aliases = {alias_def("Net  Rev", "k1", "a"), alias_def("net rev", "k2", "b"),
                  alias_def("ghost", "g", "zz")};
    PackBuildResult built = build(in);
    ASSERT_EQ(codes(built.diagnostics), Codes({"unknown_concept"}));
    EXPECT_EQ(built.diagnostics[0].message, "Alias 'ghost' targets missing concept 'zz'");
    for (const AliasDef& a : built.pack->aliases)
        EXPECT_EQ(a.normalized_alias, a.alias == "ghost" ? "ghost" : "net rev");
}

TEST(PackBuild, ReviewedDefinitionTakesTheGreatestDecisionId) {
    auto mismatch = [](std::vector<ReviewRecord> records, std::string concept_hash = "h2") {
        PackBuildInput in = input(ApprovalState::Approved);
        in.allow_first_approved_version = true;
        in.concepts = {concept_def("c")};
        in.concepts[0].definition.definition_hash = std::move(concept_hash);
        in.review_records = std::move(records);
        std::vector<std::string> messages;
        for (const auto& d : build(std::move(in)).diagnostics)
            messages.push_back(d.message);
        return messages;
    };
    using Messages = std::vector<std::string>;
    ReviewRecord amendment =
        record("r2", "c", "h1", ReviewDecision::MinorAmendmentNoSemanticChange);
    amendment.previous_definition_hash = "h1";
    amendment.new_definition_hash = "h2";
    EXPECT_EQ(mismatch({record("r1", "c", "h0"), amendment}), Messages{});
    amendment.previous_definition_hash.reset();
    EXPECT_EQ(mismatch({record("r1", "c", "h2"), amendment}),
              Messages{"Definition hash mismatch for 'c': reviewed='h1', current='h2'"});
    // r-9 sorts after r-10 by bytes, so it is the latest decision.
    EXPECT_EQ(mismatch({record("r-9", "c", "h2"), record("r-10", "c", "h1")}), Messages{});
    EXPECT_EQ(mismatch({record("r-10", "c", "h2"), record("r-9", "c", "h1")}).size(), 1u);

    // An empty supplied hash is checked through the hash the build computes for it.
    const std::string computed = definition_hash(concept_def("c"));
    EXPECT_EQ(mismatch({record("r1", "c", computed)}, ""), Messages{});
    EXPECT_EQ(
        mismatch({record("r1", "c", "old")}, ""),
        Messages{"Definition hash mismatch for 'c': reviewed='old', current='" + computed + "'"});
}

// ---- Hashes ----

TEST(PackBuildHashes, DefinitionHashIsTheCanonicalHashOfItsFourMembers) {
    ConceptDef c = concept_def("c", "", "Money \"in\"\n");
    c.examples = {"b", "a", "\xc3\xa9"};
    c.counterexamples = {"z", "y"};
    c.status = ConceptStatus::ExternalOnly;
    json::Object object;
    object.insert_or_assign("text", json::Value(c.definition.text));
    object.insert_or_assign("examples", json::Value(json::Array{"a", "b", "\xc3\xa9"}));
    object.insert_or_assign("counterexamples", json::Value(json::Array{"y", "z"}));
    object.insert_or_assign("status", json::Value("external_only"));
    EXPECT_EQ(definition_hash(c), canonical_json_hash(json::Value(object)));

    ConceptDef reordered = c;
    std::reverse(reordered.examples.begin(), reordered.examples.end());
    reordered.owner = "someone else";
    EXPECT_EQ(definition_hash(reordered), definition_hash(c));
    reordered.status = ConceptStatus::Active;
    EXPECT_NE(definition_hash(reordered), definition_hash(c));
}

TEST(PackBuildHashes, FingerprintFollowsIdsAndStatus) {
    std::vector<ConceptDef> concepts = {concept_def("b"), concept_def("a")};
    concepts[0].definition.decision_ref = "d";
    json::Array objects;
    for (const ConceptDef* c : {&concepts[1], &concepts[0]}) {
        json::Object o;
        o.insert_or_assign("subject_type", json::Value("concept"));
        o.insert_or_assign("subject_id", json::Value(c->id));
        o.insert_or_assign("definition_hash", json::Value(c->definition.definition_hash));
        o.insert_or_assign("status", json::Value("active"));
        o.insert_or_assign("decision_ref", json::Value(c->definition.decision_ref));
        objects.emplace_back(std::move(o));
    }
    EXPECT_EQ(meaning_fingerprint(concepts), canonical_json_hash(json::Value(objects)));

    PackBuildInput in = input();
    in.concepts = concepts;
    const std::string fingerprint = build(in).pack->meaning_fingerprint;
    std::swap(in.concepts[0], in.concepts[1]);
    EXPECT_EQ(build(in).pack->meaning_fingerprint, fingerprint);
    in.concepts[0].status = ConceptStatus::Proposed;
    EXPECT_NE(build(in).pack->meaning_fingerprint, fingerprint);
}

TEST(PackBuildHashes, ReviewManifestInDecisionOrderAndFieldOrder) {
    EXPECT_EQ(review_manifest_hash({}), crypto::sha256_hex("[]"));
    ReviewRecord a = record("r2", "c", "h");
    a.new_definition_hash = "n";
    ReviewRecord b = record("r1", "c", "h");
    EXPECT_EQ(review_manifest_hash({a, b}),
              crypto::sha256_hex("[" + b.serialize() + "," + a.serialize() + "]"));
    EXPECT_EQ(review_manifest_hash({a, b}), review_manifest_hash({b, a}));
    EXPECT_NE(b.serialize().find("\"decision_id\":\"r1\",\"subject_type\""), std::string::npos);
    EXPECT_EQ(build_config_hash(),
              "sha256:44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a");
}

// ---- The built pack ----

TEST(PackBuild, BuiltPackFields) {
    PackBuildInput in = input();
    in.concepts = {concept_def("z"), concept_def("a")};
    in.concepts[0].examples = {"y", "x"};
    in.review_records = {record("r1", "a")};
    PackBuildResult built = build(in);
    const SemanticPack& pack = *built.pack;
    EXPECT_EQ(pack.schema_version, "0.3");
    EXPECT_EQ(pack.pack_id, "acme/sales/2");
    EXPECT_EQ(pack.created_at, "2023-11-14T22:13:20.250+00:00");
    EXPECT_EQ(pack.generator.name, "vok-core");
    EXPECT_EQ(pack.generator.version, "0.3");
    EXPECT_EQ(pack.compatibility.brisvandole_min_version, "0.3");
    EXPECT_EQ(pack.review_manifest_hash, review_manifest_hash(in.review_records));
    EXPECT_EQ(pack.build_config_hash, build_config_hash());
    EXPECT_EQ(pack.trust.signature_state, SignatureState::Unsigned);
    EXPECT_EQ(pack.concepts[0].id, "a");
    EXPECT_EQ(pack.concepts[1].examples, (std::vector<std::string>{"x", "y"}));
    SemanticPack sorted = pack;
    sort_pack_collections(sorted);
    EXPECT_EQ(sorted, pack);
    auto read_back = parse_semantic_pack(pack.serialize());
    ASSERT_TRUE(read_back.ok());
    EXPECT_EQ(*read_back, pack);
}

TEST(PackBuild, MeaningVersionAgainstThePreviousPack) {
    PackBuildInput base = input(ApprovalState::Approved);
    base.concepts = {concept_def("c")};
    base.review_records = {record("r1", "c")};
    base.meaning_version = "1.0";
    base.allow_first_approved_version = true;
    const SemanticPack first = *build(base).pack;

    struct Case {
        std::string previous, next;
        bool same_fingerprint;
        std::string message; // empty: nothing raised
    };
    for (const Case& c : std::vector<Case>{
             {"1.0", "0.9", true, ""},
             {"1.9", "1.10", false, ""},
             {"1", "+2", false, ""},
             {"1.2", "1.2.0", false,
              "meaning_fingerprint changed but meaning_version '1.2.0' did not increase from "
              "'1.2'"},
             {"1.2", "1.2-rc1", false,
              "Invalid version format: meaning_version '1.2-rc1' or previous meaning_version '1.2' "
              "contains non-numeric segments"},
         }) {
        PackBuildInput in = base;
        in.allow_first_approved_version = false; // a previous pack needs no permission
        in.meaning_version = c.next;
        in.previous_pack = first;
        in.previous_pack->meaning_version = c.previous;
        if (!c.same_fingerprint) in.previous_pack->meaning_fingerprint = "other";
        PackBuildResult built = build(in);
        if (c.message.empty()) {
            EXPECT_FALSE(built.refused()) << c.next;
            EXPECT_TRUE(built.diagnostics.empty()) << c.next;
            continue;
        }
        ASSERT_TRUE(built.refused());
        ASSERT_EQ(codes(built.diagnostics), Codes({"meaning_version_not_bumped"}));
        EXPECT_EQ(built.diagnostics[0].message, c.message);
        // The version findings carry the reference of the pack that was built.
        in.approval = ApprovalState::Candidate;
        PackBuildResult candidate = build(in);
        ASSERT_FALSE(candidate.refused());
        const PackRef& ref = candidate.diagnostics.at(0).pack_ref;
        EXPECT_EQ(ref.path_or_uri, "pack://acme/sales/2");
        EXPECT_EQ(ref.pack_content_hash, candidate.pack->content_hash());
    }
}

} // namespace
} // namespace vok::semantic_pack
