#include "semantic_pack/signing.h"

#include <gtest/gtest.h>

#include "crypto/ed25519_keys.h"
#include "encoding/base64.h"
#include "pack_test_util.h"

namespace vok::semantic_pack {
namespace {

using testing::pack_text;
using testing::read_pack;

std::vector<uint8_t> seed_bytes() {
    std::vector<uint8_t> seed(32);
    for (size_t i = 0; i < seed.size(); ++i)
        seed[i] = static_cast<uint8_t>(i * 7 + 1);
    return seed;
}

crypto::Ed25519Seed test_seed() {
    const auto bytes = seed_bytes();
    return crypto::Ed25519Seed(std::span<const uint8_t, 32>(bytes.data(), 32));
}

std::string pem_of(std::string_view label, std::vector<uint8_t> der) {
    return "-----BEGIN " + std::string(label) + "-----\n" + encoding::base64_encode(der) +
           "\n-----END " + std::string(label) + "-----\n";
}

// PKCS#8 v1 and SubjectPublicKeyInfo documents for Ed25519, as RFC 8410 writes them.
std::string private_pem(std::string_view label = "PRIVATE KEY") {
    std::vector<uint8_t> der = {0x30, 0x2E, 0x02, 0x01, 0x00, 0x30, 0x05, 0x06,
                                0x03, 0x2B, 0x65, 0x70, 0x04, 0x22, 0x04, 0x20};
    for (uint8_t b : seed_bytes())
        der.push_back(b);
    return pem_of(label, der);
}

std::string public_pem(const crypto::Ed25519PublicKey& key) {
    std::vector<uint8_t> der = {0x30, 0x2A, 0x30, 0x05, 0x06, 0x03,
                                0x2B, 0x65, 0x70, 0x03, 0x21, 0x00};
    for (uint8_t b : key)
        der.push_back(b);
    return pem_of("PUBLIC KEY", der);
}

std::string concepts() {
    return R"([{"id":"b","canonical_name":"B","kind":"entity","status":"active",)"
           R"("definition":{"text":"t","definition_hash":"h","decision_ref":"d"},"owner":"o",)"
           R"("examples":["y","x"]},)"
           R"({"id":"a","canonical_name":"A","kind":"entity","status":"proposed",)"
           R"("definition":{"text":"t","definition_hash":"h","decision_ref":"d"},"owner":"o"}])";
}

TEST(SigningPayload, FourLinesEachEndedByALineFeed) {
    SemanticPack pack = read_pack(pack_text());
    pack.pack_id = "org/\"dom\"\\ x";
    EXPECT_EQ(signing_payload(pack, "sha256:abc"),
              "BRISVANDOLE_SEMANTIC_PACK_V0_3\nsha256:abc\norg/\"dom\"\\ x\n0.3\n");
    pack.pack_id.clear();
    EXPECT_EQ(signing_payload(pack, "H"), "BRISVANDOLE_SEMANTIC_PACK_V0_3\nH\n\n0.3\n");
}

TEST(SignPack, SetsTheThreeSignatureFieldsAndNothingElse) {
    const SemanticPack original = read_pack(pack_text(concepts(), R"(,"signed_by":"someone")"));
    SemanticPack pack = original;
    sign_pack(pack, test_seed());
    ASSERT_TRUE(pack.trust.signature);
    EXPECT_EQ(pack.trust.signature->size(), 88u);
    EXPECT_TRUE(pack.trust.signature->ends_with("=="));
    EXPECT_EQ(pack.trust.signature_alg, "ed25519");
    EXPECT_EQ(pack.trust.signature_state, SignatureState::Signed);
    EXPECT_EQ(pack.content_hash(), original.content_hash());

    SemanticPack rest = pack;
    rest.trust = original.trust;
    EXPECT_EQ(rest, original); // order of collections, created_at, signed_by: all as they were

    const crypto::Ed25519Signature expected =
        crypto::ed25519_sign(test_seed(), signing_payload(original, original.content_hash()));
    EXPECT_EQ(*pack.trust.signature, encoding::base64_encode(expected));
}

TEST(VerifyPackSignature, HoldsAcrossUnhashedChangesAndFailsOnHashedOnes) {
    SemanticPack pack = read_pack(pack_text(concepts()));
    sign_pack(pack, test_seed());
    const crypto::Ed25519PublicKey key = crypto::ed25519_public_key(test_seed());
    ASSERT_TRUE(verify_pack_signature(pack, key));

    using Change = void (*)(SemanticPack&);
    const Change unhashed[] = {
        [](SemanticPack& p) { p.created_at = "2030-01-01T00:00:00+00:00"; },
        [](SemanticPack& p) { p.review_manifest_hash = "other"; },
        [](SemanticPack& p) { p.trust.signed_by = "anyone"; },
        [](SemanticPack& p) { p.trust.signature_alg = "rsa"; },
        [](SemanticPack& p) { p.trust.signature_state = SignatureState::InvalidSignature; },
        [](SemanticPack& p) { std::swap(p.concepts[0], p.concepts[1]); },
        [](SemanticPack& p) { std::swap(p.concepts[0].examples[0], p.concepts[0].examples[1]); },
    };
    for (Change change : unhashed) {
        SemanticPack copy = pack;
        change(copy);
        EXPECT_TRUE(verify_pack_signature(copy, key));
    }
    const Change hashed[] = {
        [](SemanticPack& p) { p.pack_id += "x"; },
        [](SemanticPack& p) { p.schema_version = "0.4"; },
        [](SemanticPack& p) { p.trust.approval_state = ApprovalState::Candidate; },
        [](SemanticPack& p) { p.concepts[1].owner = "other"; },
        [](SemanticPack& p) { p.compatibility.replaces_pack_ids.push_back("old"); },
        [](SemanticPack& p) { p.trust.signature.reset(); },
        [](SemanticPack& p) { (*p.trust.signature)[5] ^= 1; },
        [](SemanticPack& p) { p.trust.signature->resize(86); },     // padding removed
        [](SemanticPack& p) { p.trust.signature->resize(84); },     // 63 bytes
        [](SemanticPack& p) { *p.trust.signature += "AAAA"; },      // 66 bytes
        [](SemanticPack& p) { *p.trust.signature = "not base64"; }, //
    };
    for (Change change : hashed) {
        SemanticPack copy = pack;
        change(copy);
        EXPECT_FALSE(verify_pack_signature(copy, key));
    }
    crypto::Ed25519PublicKey other = key;
    other[3] ^= 1;
    EXPECT_FALSE(verify_pack_signature(pack, other));
}

TEST(SignPackDocument, ReadsThePackBeforeTheKey) {
    auto bad_pack = sign_pack_document("{}", "not a key");
    ASSERT_FALSE(bad_pack.ok());
    EXPECT_EQ(bad_pack.error().to_string(),
              "Invalid pack JSON: missing field `schema_version` at line 1 column 2");
}

TEST(SignPackDocument, KeyFaultsAreQuotedInsideKeyParseError) {
    auto encrypted = sign_pack_document(pack_text(), private_pem("ENCRYPTED PRIVATE KEY"));
    ASSERT_FALSE(encrypted.ok());
    EXPECT_EQ(encrypted.error().to_string(),
              R"(Signing error: KeyParseError("PKCS#8 ASN.1 error: PEM error: unexpected PEM )"
              R"(type label: expecting \"PRIVATE KEY\""))");
    auto public_key = sign_pack_document(pack_text(), public_pem({}));
    ASSERT_FALSE(public_key.ok());
    EXPECT_TRUE(public_key.error().to_string().starts_with("Signing error: KeyParseError("));
}

TEST(SignPackDocument, SignsDeterministicallyAndReplacesAnEarlierSignature) {
    const std::string text = pack_text(concepts(), R"(,"signed_by":"me","signature":"old")");
    auto first = sign_pack_document(text, private_pem());
    ASSERT_TRUE(first.ok()) << first.error().to_string();
    auto again = sign_pack_document(text, private_pem());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(*first, *again);
    auto twice = sign_pack_document(*first, private_pem());
    ASSERT_TRUE(twice.ok());
    EXPECT_EQ(*twice, *first);
    const SemanticPack signed_pack = read_pack(*first);
    EXPECT_EQ(signed_pack.trust.signed_by, "me");
    EXPECT_EQ(signed_pack.concepts[0].id, "b");
    EXPECT_EQ(signed_pack.concepts[0].examples[0], "y");

    const std::string key = public_pem(crypto::ed25519_public_key(test_seed()));
    auto verified = verify_pack_document(*first, key);
    ASSERT_TRUE(verified.ok());
    EXPECT_TRUE(*verified);
}

TEST(VerifyPackDocument, OnlyAnUnreadablePackIsAnError) {
    const std::string key = public_pem(crypto::ed25519_public_key(test_seed()));
    auto signed_text = sign_pack_document(pack_text(), private_pem());
    ASSERT_TRUE(signed_text.ok());
    for (const std::string& bad_key :
         {std::string("not PEM"), private_pem(), key.substr(0, key.size() / 2), std::string()}) {
        auto verified = verify_pack_document(*signed_text, bad_key);
        ASSERT_TRUE(verified.ok());
        EXPECT_FALSE(*verified);
    }
    auto unsigned_pack = verify_pack_document(pack_text(), "garbage");
    ASSERT_TRUE(unsigned_pack.ok());
    EXPECT_FALSE(*unsigned_pack);
    EXPECT_FALSE(verify_pack_document("{}", key).ok());
}

} // namespace
} // namespace vok::semantic_pack
