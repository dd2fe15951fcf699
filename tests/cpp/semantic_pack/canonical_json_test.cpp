// Canonical JSON, the canonical order of a pack and the pack content hash.
#include <gtest/gtest.h>

#include "common/cancellation.h"
#include "pack_test_util.h"
#include "semantic_pack/canonical_json.h"
#include "json/text_deserializer.h"
#include "json/writer.h"

namespace vok::semantic_pack {
namespace {

SemanticPack full_pack() {
    return testing::read_pack(testing::slurp(testing::golden_dir() / "full.input.json"));
}

// The content hash the long way: the hashed copy's document text read as a generic value, then
// the hash of its canonical text.
std::string hash_through_generic_value(const SemanticPack& pack) {
    SemanticPack copy = pack;
    make_hashed_form(copy);
    auto value = json::parse(copy.serialize());
    EXPECT_TRUE(value.ok());
    return canonical_json_hash(*value);
}

TEST(CanonicalJson, KeysInByteOrderAndTheSameHashWhateverTheInputOrder) {
    auto a = json::parse(R"({"é":1,"ab":2,"a":3,"B":{"y":[2,1],"x":"\u0001/"}})");
    auto b =
        json::parse(" { \"B\" : {\"x\":\"\\u0001\\/\", \"y\":[2,1]}, \"a\":3,\"ab\":2,\"é\":1}");
    auto c = json::parse(R"({"é":1,"ab":2,"a":3,"B":{"y":[1,2],"x":"\u0001/"}})");
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    // A generic value keeps its keys in byte order, so its compact text is the canonical one.
    EXPECT_EQ(json::to_compact_string(*a),
              "{\"B\":{\"x\":\"\\u0001/\",\"y\":[2,1]},\"a\":3,\"ab\":2,\"é\":1}");
    EXPECT_EQ(canonical_json_hash(*a), canonical_json_hash(*b));
    EXPECT_NE(canonical_json_hash(*a), canonical_json_hash(*c));
}

TEST(CanonicalJson, HashTextForm) {
    EXPECT_EQ(crypto::sha256_hex("{}"),
              "sha256:44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a");
    const std::string h = canonical_json_hash(json::Value(json::Object{}));
    EXPECT_EQ(h.size(), 71u);
    EXPECT_TRUE(h.starts_with("sha256:"));
    EXPECT_EQ(h.find_first_of("ABCDEF"), std::string::npos);
}

TEST(CanonicalOrder, CollectionsAndListsAreSortedStably) {
    SemanticPack pack = full_pack();
    sort_pack_collections(pack);
    std::vector<std::string> ids;
    for (const auto& c : pack.concepts)
        ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"B", "a", "b"}));
    EXPECT_EQ(pack.concepts[2].examples, (std::vector<std::string>{"B", "a", "z", "é"}));
    EXPECT_EQ(pack.concepts[2].source_refs[0].start_byte, 9u);
    EXPECT_EQ(pack.aliases[0].status, AliasStatus::Approved);
    EXPECT_EQ(pack.aliases[1].status, AliasStatus::Blocked);
    EXPECT_EQ(pack.relations[0].id, "r1");
    EXPECT_EQ(pack.units[0].id, "eur");
    EXPECT_EQ(pack.mapping_rules[0].id, "mr0");
    // replaces_pack_ids keeps its order.
    EXPECT_EQ(pack.compatibility.replaces_pack_ids[0], "old-b");

    SemanticPack twice = pack;
    sort_pack_collections(twice);
    EXPECT_EQ(twice, pack);
}

TEST(CanonicalOrder, SpansWithEqualKeysKeepTheirOrder) {
    SemanticPack pack = full_pack();
    SourceRef first{"u", 5, 10, 1, 1, 1, 1};
    SourceRef second{"u", 5, 10, 2, 2, 2, 2};
    SourceRef shorter{"u", 5, 9, 3, 3, 3, 3};
    pack.dimensions[0].source_refs = {first, second, shorter};
    sort_pack_collections(pack);
    EXPECT_EQ(pack.dimensions[0].source_refs, (std::vector<SourceRef>{shorter, first, second}));
}

TEST(ContentHash, StreamedTextEqualsTheGenericValueForm) {
    SemanticPack pack = full_pack();
    EXPECT_EQ(pack.content_hash(), hash_through_generic_value(pack));
    SemanticPack minimal =
        testing::read_pack(testing::slurp(testing::golden_dir() / "minimal.input.json"));
    EXPECT_EQ(minimal.content_hash(), hash_through_generic_value(minimal));
}

TEST(ContentHash, LeavesOutStampAndSignatureButCoversIdentityAndApproval) {
    const SemanticPack pack = full_pack();
    const std::string hash = pack.content_hash();

    SemanticPack restamped = pack;
    restamped.created_at = "2030-01-01T00:00:00+00:00";
    restamped.review_manifest_hash = "sha256:ff";
    restamped.trust.signed_by = "someone else";
    restamped.trust.signature_alg.reset();
    restamped.trust.signature = "AAAA==";
    restamped.trust.signature_state = SignatureState::InvalidSignature;
    std::reverse(restamped.concepts.begin(), restamped.concepts.end());
    std::reverse(restamped.concepts[0].examples.begin(), restamped.concepts[0].examples.end());
    EXPECT_EQ(restamped.content_hash(), hash);

    SemanticPack renamed = pack;
    renamed.pack_id += "x";
    EXPECT_NE(renamed.content_hash(), hash);
    SemanticPack rejected = pack;
    rejected.trust.approval_state = ApprovalState::Rejected;
    EXPECT_NE(rejected.content_hash(), hash);
    SemanticPack replaced = pack;
    std::reverse(replaced.compatibility.replaces_pack_ids.begin(),
                 replaced.compatibility.replaces_pack_ids.end());
    EXPECT_NE(replaced.content_hash(), hash);

    // Hashing changes nothing, and a sorted pack hashes as before.
    EXPECT_EQ(pack, full_pack());
    SemanticPack sorted = pack;
    sort_pack_collections(sorted);
    EXPECT_EQ(sorted.content_hash(), hash);
}

TEST(ContentHash, AListLargerThanTheStreamingBufferHashesAsTheValueForm) {
    SemanticPack pack = full_pack();
    ConceptDef model = pack.concepts[0];
    for (int i = 0; i < 3000; ++i) {
        model.id = "c" + std::to_string(i * 7919 % 3000);
        pack.concepts.push_back(model);
    }
    EXPECT_EQ(pack.content_hash(), hash_through_generic_value(pack));
}

bool stop_at_zero(void* context) {
    return --*static_cast<int*>(context) <= 0;
}

TEST(ContentHash, TheCopyItHashesIsMadeInStepsThatAStopEnds) {
    SemanticPack pack = full_pack();
    pack.compatibility.replaces_pack_ids.push_back("earlier");
    ConceptDef model = pack.concepts[0];
    for (int i = 0; i < 3000; ++i) {
        model.id = "c" + std::to_string(i);
        pack.concepts.push_back(model);
    }
    EXPECT_EQ(copy_in_steps(pack), pack);
    // A poll per concept: the check is consulted at least twice within 3,000 of them.
    int consultations_left = 2;
    CancellationScope scope(stop_at_zero, &consultations_left);
    EXPECT_THROW(copy_in_steps(pack), OperationCancelled);
    EXPECT_EQ(consultations_left, 0);
}

TEST(ConceptStatusJson, IsTheNameAsAString) {
    EXPECT_EQ(as_json(ConceptStatus::ExternalOnly), json::Value("external_only"));
}

} // namespace
} // namespace vok::semantic_pack
