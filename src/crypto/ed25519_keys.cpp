// Decoding Ed25519 key documents; relies on the strict PEM and DER readers of src/encoding.
#include "crypto/ed25519_keys.h"

#include <openssl/crypto.h>

#include "encoding/der.h"
#include "encoding/pem.h"

namespace vok::crypto {

namespace {

using encoding::DerElement;
using encoding::DerReader;
namespace der_tag = encoding::der_tag;

constexpr std::string_view kEd25519Oid = "1.3.101.112";
constexpr uint8_t kAttributesTag = 0xA0; // [0] IMPLICIT, constructed
constexpr uint8_t kPublicKeyTag = 0x81;  // [1] IMPLICIT BIT STRING, primitive

struct AlgorithmIdentifier {
    DerElement oid;
    bool has_parameters = false;
};

// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
Result<AlgorithmIdentifier, std::string> read_algorithm(DerReader& reader) {
    auto sequence = reader.read(der_tag::kSequence);
    if (!sequence) return Err(std::move(sequence.error()));
    DerReader inner = DerReader::inside(*sequence);
    auto oid = inner.read(der_tag::kObjectIdentifier);
    if (!oid) return Err(std::move(oid.error()));
    AlgorithmIdentifier algorithm{*oid, false};
    if (!inner.at_end()) {
        auto parameters = inner.read_any();
        if (!parameters) return Err(std::move(parameters.error()));
        algorithm.has_parameters = true;
    }
    VOK_TRY(inner.finish());
    return algorithm;
}

// The 32 bytes of a BIT STRING holding a whole number of bytes.
std::optional<Ed25519PublicKey> bit_string_key(std::span<const uint8_t> content) {
    if (content.size() != 33 || content[0] != 0) return std::nullopt;
    Ed25519PublicKey key{};
    std::copy(content.begin() + 1, content.end(), key.begin());
    return key;
}

struct PrivateKeyInfo {
    AlgorithmIdentifier algorithm;
    DerElement private_key;
    std::optional<DerElement> public_key;
};

// OneAsymmetricKey ::= SEQUENCE { version INTEGER (0 | 1), privateKeyAlgorithm
//   AlgorithmIdentifier, privateKey OCTET STRING, attributes [0] OPTIONAL,
//   publicKey [1] BIT STRING OPTIONAL }
Result<PrivateKeyInfo, std::string> read_private_key_info(std::span<const uint8_t> der) {
    DerReader outer(der);
    auto sequence = outer.read(der_tag::kSequence);
    if (!sequence) return Err(std::move(sequence.error()));
    VOK_TRY(outer.finish());
    DerReader reader = DerReader::inside(*sequence);
    auto version_element = reader.read(der_tag::kInteger);
    if (!version_element) return Err(std::move(version_element.error()));
    auto version = encoding::der_small_unsigned(*version_element);
    if (!version) return Err(std::move(version.error()));
    if (*version > 1) return Err("PKCS#8 version " + std::to_string(*version) + " unsupported");
    auto algorithm = read_algorithm(reader);
    if (!algorithm) return Err(std::move(algorithm.error()));
    auto private_key = reader.read(der_tag::kOctetString);
    if (!private_key) return Err(std::move(private_key.error()));
    PrivateKeyInfo info{*algorithm, *private_key, std::nullopt};
    if (reader.peek_tag() == kAttributesTag) {
        auto attributes = reader.read(kAttributesTag);
        if (!attributes) return Err(std::move(attributes.error()));
    }
    if (reader.peek_tag() == kPublicKeyTag) {
        auto public_key = reader.read(kPublicKeyTag);
        if (!public_key) return Err(std::move(public_key.error()));
        info.public_key = *public_key;
    }
    VOK_TRY(reader.finish());
    return info;
}

std::string asn1_error(std::string_view description) {
    return "PKCS#8 ASN.1 error: " + std::string(description);
}

} // namespace

Result<std::unique_ptr<Ed25519Seed>, std::string>
decode_ed25519_private_key_pem(std::string_view pem) {
    auto der = encoding::pem_decode(pem, "PRIVATE KEY");
    if (!der) return Err(asn1_error("PEM error: " + der.error()));
    struct Wipe {
        std::vector<uint8_t>& bytes;
        ~Wipe() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    } wipe{*der};

    auto info = read_private_key_info(*der);
    if (!info) return Err(asn1_error(info.error()));
    auto oid_text = encoding::der_object_identifier_text(info->algorithm.oid);
    if (!oid_text) return Err(asn1_error(oid_text.error()));
    if (*oid_text != kEd25519Oid) {
        return Err("public key error: unknown/unsupported algorithm OID: " + *oid_text);
    }
    if (info->algorithm.has_parameters) {
        return Err(std::string("PKCS#8 algorithm parameters malformed"));
    }
    const std::string malformed = "PKCS#8 cryptographic key data malformed";
    // The privateKey OCTET STRING holds a CurvePrivateKey, itself an OCTET STRING of the seed.
    DerReader seed_reader = DerReader::inside(info->private_key);
    auto seed_element = seed_reader.read(der_tag::kOctetString);
    if (!seed_element || !seed_reader.finish() || seed_element->content.size() != 32) {
        return Err(malformed);
    }
    auto seed = std::make_unique<Ed25519Seed>(seed_element->content.first<32>());
    if (info->public_key) {
        const std::optional<Ed25519PublicKey> carried = bit_string_key(info->public_key->content);
        if (!carried || *carried != ed25519_public_key(*seed)) return Err(malformed);
    }
    return seed;
}

std::optional<Ed25519PublicKey> decode_ed25519_public_key_pem(std::string_view pem) {
    auto der = encoding::pem_decode(pem, "PUBLIC KEY");
    if (!der) return std::nullopt;
    // SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier,
    //                                      subjectPublicKey BIT STRING }
    DerReader outer(*der);
    auto sequence = outer.read(der_tag::kSequence);
    if (!sequence || !outer.finish()) return std::nullopt;
    DerReader reader = DerReader::inside(*sequence);
    auto algorithm = read_algorithm(reader);
    if (!algorithm || algorithm->has_parameters) return std::nullopt;
    auto oid_text = encoding::der_object_identifier_text(algorithm->oid);
    if (!oid_text || *oid_text != kEd25519Oid) return std::nullopt;
    auto key = reader.read(der_tag::kBitString);
    if (!key || !reader.finish()) return std::nullopt;
    return bit_string_key(key->content);
}

} // namespace vok::crypto
