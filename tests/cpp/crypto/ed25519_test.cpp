#include "crypto/ed25519.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "crypto/ed25519_keys.h"
#include "encoding/base64.h"
#include "json/text_deserializer.h"

namespace vok::crypto {
namespace {

std::vector<uint8_t> from_hex(std::string_view hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::string as_text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

json::Value load(const char* relative) {
    std::ifstream in(std::filesystem::path(VOK_SOURCE_DIR) / relative, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    auto value = json::parse(buffer.str());
    if (!value) ADD_FAILURE() << "cannot read " << relative;
    return std::move(*value);
}

std::string pem_of(std::string_view label, const std::vector<uint8_t>& der) {
    return "-----BEGIN " + std::string(label) + "-----\n" + encoding::base64_encode(der) +
           "\n-----END " + std::string(label) + "-----\n";
}

TEST(Ed25519, Rfc8032VectorsSignAndVerifyByteForByte) {
    const json::Value file = load("tests/data/rfc8032-ed25519/rfc8032_ed25519.json");
    const auto& vectors = file.get("vectors")->as_array();
    ASSERT_EQ(vectors.size(), 5u);
    for (const json::Value& vector : vectors) {
        const std::string name = vector.get("name")->as_string();
        auto seed =
            decode_ed25519_private_key_pem(vector.get("private_key_pem_pkcs8")->as_string());
        ASSERT_TRUE(seed) << name << ": " << seed.error();
        EXPECT_EQ(std::vector<uint8_t>((*seed)->bytes().begin(), (*seed)->bytes().end()),
                  from_hex(vector.get("secret_key")->as_string()));
        auto public_key =
            decode_ed25519_public_key_pem(vector.get("public_key_pem_spki")->as_string());
        ASSERT_TRUE(public_key) << name;
        EXPECT_EQ(std::vector<uint8_t>(public_key->begin(), public_key->end()),
                  from_hex(vector.get("public_key")->as_string()));
        EXPECT_EQ(ed25519_public_key(**seed), *public_key) << name;

        const std::string message = as_text(from_hex(vector.get("message")->as_string()));
        const Ed25519Signature signature = ed25519_sign(**seed, message);
        EXPECT_EQ(std::vector<uint8_t>(signature.begin(), signature.end()),
                  from_hex(vector.get("signature")->as_string()))
            << name;
        EXPECT_TRUE(ed25519_verify(*public_key, message, signature)) << name;
        EXPECT_FALSE(ed25519_verify(*public_key, message + "x", signature)) << name;
    }
}

TEST(Ed25519, EveryWycheproofCaseGetsItsVerdict) {
    const json::Value file = load("tests/data/wycheproof-ed25519/ed25519_test.json");
    size_t cases = 0;
    for (const json::Value& group : file.get("testGroups")->as_array()) {
        const auto key_bytes = from_hex(group.get("publicKey")->get("pk")->as_string());
        ASSERT_EQ(key_bytes.size(), 32u);
        Ed25519PublicKey key{};
        std::copy(key_bytes.begin(), key_bytes.end(), key.begin());
        // The same key reaches us as PEM in real use: both routes must agree.
        auto from_pem = decode_ed25519_public_key_pem(group.get("publicKeyPem")->as_string());
        ASSERT_TRUE(from_pem);
        EXPECT_EQ(*from_pem, key);
        for (const json::Value& test : group.get("tests")->as_array()) {
            ++cases;
            const std::string message = as_text(from_hex(test.get("msg")->as_string()));
            const auto signature = from_hex(test.get("sig")->as_string());
            const bool expected = test.get("result")->as_string() == "valid";
            EXPECT_EQ(ed25519_verify(key, message, signature), expected)
                << "tcId " << test.get("tcId")->as_number().as_u64() << ": "
                << test.get("comment")->as_string();
        }
    }
    EXPECT_EQ(cases, 151u);
}

TEST(Ed25519, ScalarsAtAndAboveTheOrderAreNotCanonical) {
    std::array<uint8_t, 32> order = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58,
                                     0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14};
    order[31] = 0x10;
    EXPECT_FALSE(is_canonical_scalar(order));
    order[0] = 0xec;
    EXPECT_TRUE(is_canonical_scalar(order));
    std::array<uint8_t, 32> all_ones;
    all_ones.fill(0xFF);
    EXPECT_FALSE(is_canonical_scalar(all_ones));
}

class PrivateKeyDocuments : public ::testing::Test {
protected:
    static std::vector<uint8_t> seed() { return std::vector<uint8_t>(32, 7); }
    // Element by element with push_back: GCC 12 misreads range inserts of short vectors as
    // out-of-bounds copies.
    static void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& from) {
        for (const uint8_t b : from)
            to.push_back(b);
    }
    static std::vector<uint8_t> tlv(uint8_t tag, const std::vector<uint8_t>& content) {
        std::vector<uint8_t> element = {tag, static_cast<uint8_t>(content.size())};
        append(element, content);
        return element;
    }
    static std::vector<uint8_t> pkcs8(const std::vector<uint8_t>& version,
                                      const std::vector<uint8_t>& algorithm,
                                      const std::vector<uint8_t>& key,
                                      const std::vector<uint8_t>& tail = {}) {
        std::vector<uint8_t> body = tlv(0x02, version);
        append(body, tlv(0x30, algorithm));
        append(body, tlv(0x04, tlv(0x04, key)));
        append(body, tail);
        return tlv(0x30, body);
    }
    static std::vector<uint8_t> ed25519_oid() { return {0x06, 0x03, 0x2B, 0x65, 0x70}; }
    static std::string error_of(const std::string& pem) {
        auto result = decode_ed25519_private_key_pem(pem);
        return result ? "(accepted)" : result.error();
    }
};

TEST_F(PrivateKeyDocuments, FaultsAreReportedInCheckOrder) {
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY", pkcs8({0}, ed25519_oid(), seed()))), "(accepted)");
    EXPECT_EQ(
        error_of(pem_of("ENCRYPTED PRIVATE KEY", pkcs8({0}, ed25519_oid(), seed()))),
        "PKCS#8 ASN.1 error: PEM error: unexpected PEM type label: expecting \"PRIVATE KEY\"");
    EXPECT_EQ(error_of("plain text"),
              "PKCS#8 ASN.1 error: PEM error: PEM pre-encapsulation boundary not found");
    auto truncated = pkcs8({0}, ed25519_oid(), seed());
    truncated.resize(20);
    EXPECT_TRUE(error_of(pem_of("PRIVATE KEY", truncated)).starts_with("PKCS#8 ASN.1 error: DER "));
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY", pkcs8({2}, ed25519_oid(), seed()))),
              "PKCS#8 ASN.1 error: PKCS#8 version 2 unsupported");
    // Wrong algorithm (X25519) outranks a wrong seed length.
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY",
                              pkcs8({0}, {0x06, 0x03, 0x2B, 0x65, 0x6E}, std::vector<uint8_t>(5)))),
              "public key error: unknown/unsupported algorithm OID: 1.3.101.110");
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY",
                              pkcs8({0}, {0x06, 0x03, 0x2B, 0x65, 0x70, 0x05, 0x00}, seed()))),
              "PKCS#8 algorithm parameters malformed");
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY", pkcs8({0}, ed25519_oid(), std::vector<uint8_t>(31)))),
              "PKCS#8 cryptographic key data malformed");
}

TEST_F(PrivateKeyDocuments, ACarriedPublicKeyMustBeTheSeedsOwn) {
    const Ed25519Seed seed_value(std::span<const uint8_t, 32>(seed().data(), 32));
    const Ed25519PublicKey own = ed25519_public_key(seed_value);
    auto with_public_key = [&](const Ed25519PublicKey& key) {
        std::vector<uint8_t> tail = {0x81, 0x21, 0x00};
        for (const uint8_t b : key)
            tail.push_back(b);
        return pem_of("PRIVATE KEY", pkcs8({1}, ed25519_oid(), seed(), tail));
    };
    EXPECT_EQ(error_of(with_public_key(own)), "(accepted)");
    Ed25519PublicKey other = own;
    other[0] ^= 1;
    EXPECT_EQ(error_of(with_public_key(other)), "PKCS#8 cryptographic key data malformed");
    // Attributes are allowed and skipped.
    EXPECT_EQ(error_of(pem_of("PRIVATE KEY", pkcs8({0}, ed25519_oid(), seed(), {0xA0, 0x00}))),
              "(accepted)");
}

TEST(PublicKeyDocuments, EveryFaultDecodesToNothing) {
    const std::vector<uint8_t> good = {
        0x30, 0x2A, 0x30, 0x05, 0x06, 0x03, 0x2B, 0x65, 0x70, 0x03, 0x21, 0x00, 1,  2,  3,
        4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,   16, 17, 18,
        19,   20,   21,   22,   23,   24,   25,   26,   27,   28,   29,   30,   31, 32};
    EXPECT_TRUE(decode_ed25519_public_key_pem(pem_of("PUBLIC KEY", good)));
    auto unused_bits = good;
    unused_bits[11] = 1;
    auto other_oid = good;
    other_oid[8] = 0x6E;
    auto short_key = good;
    short_key.pop_back();
    short_key[1] = 0x29;
    short_key[10] = 0x20;
    for (const auto& pem :
         {pem_of("PUBLIC KEY", unused_bits), pem_of("PUBLIC KEY", other_oid),
          pem_of("PUBLIC KEY", short_key), pem_of("PRIVATE KEY", good), std::string("not a key")}) {
        EXPECT_EQ(decode_ed25519_public_key_pem(pem), std::nullopt) << pem;
    }
}

} // namespace
} // namespace vok::crypto
