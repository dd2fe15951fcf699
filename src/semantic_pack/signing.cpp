// Signing and verification of packs; see signing.h.
#include "semantic_pack/signing.h"

#include <optional>
#include <span>
#include <vector>

#include "common/debug_quote.h"
#include "crypto/ed25519_keys.h"
#include "encoding/base64.h"
#include "semantic_pack/canonical_json.h"

namespace vok::semantic_pack {

namespace {

constexpr std::string_view kPayloadHeader = "BRISVANDOLE_SEMANTIC_PACK_V0_3";
constexpr std::string_view kSignatureAlgorithm = "ed25519";

std::string payload_of(std::string_view content_hash, std::string_view pack_id,
                       std::string_view schema_version) {
    std::string payload;
    payload.reserve(kPayloadHeader.size() + content_hash.size() + pack_id.size() +
                    schema_version.size() + 4);
    for (std::string_view line : {kPayloadHeader, content_hash, pack_id, schema_version}) {
        payload += line;
        payload += '\n';
    }
    return payload;
}

// The decoded signature, or nothing when it is absent, not canonical base64 or not 64 bytes long
// (ed25519_verify checks the length and S again; checking here spares the content hash of a pack
// that cannot verify anyway).
std::optional<std::vector<uint8_t>> signature_bytes(const SemanticPack& pack) {
    if (!pack.trust.signature) return std::nullopt;
    auto signature = encoding::base64_decode(*pack.trust.signature);
    if (!signature || signature->size() != crypto::Ed25519Signature().size()) return std::nullopt;
    return signature;
}

} // namespace

std::string signing_payload(const SemanticPack& pack, std::string_view content_hash) {
    return payload_of(content_hash, pack.pack_id, pack.schema_version);
}

void sign_pack(SemanticPack& pack, const crypto::Ed25519Seed& seed) {
    const std::string payload = signing_payload(pack, pack.content_hash());
    const crypto::Ed25519Signature signature = crypto::ed25519_sign(seed, payload);
    pack.trust.signature = encoding::base64_encode(signature);
    pack.trust.signature_alg = std::string(kSignatureAlgorithm);
    pack.trust.signature_state = SignatureState::Signed;
}

bool verify_pack_signature(const SemanticPack& pack, const crypto::Ed25519PublicKey& key) {
    const auto signature = signature_bytes(pack);
    if (!signature) return false;
    return crypto::ed25519_verify(key, signing_payload(pack, pack.content_hash()), *signature);
}

const std::string& SigningError::detail() const {
    return is<InvalidPack>() ? as<InvalidPack>().detail : as<KeyParse>().detail;
}

std::string SigningError::to_string() const {
    if (is<InvalidPack>()) return "Invalid pack JSON: " + detail();
    return "Signing error: KeyParseError(" + debug_quoted(detail()) + ")";
}

Result<std::string, SigningError> sign_pack_document(std::string_view pack_json,
                                                     std::string_view private_key_pem) {
    auto pack = parse_semantic_pack(pack_json);
    if (!pack.ok()) return Err(SigningError(SigningError::InvalidPack{pack.error().to_string()}));
    auto seed = crypto::decode_ed25519_private_key_pem(private_key_pem);
    if (!seed.ok()) return Err(SigningError(SigningError::KeyParse{seed.error()}));
    sign_pack(*pack, **seed);
    return pack->serialize();
}

Result<bool, json::Error> verify_pack_document(std::string_view pack_json,
                                               std::string_view public_key_pem) {
    VOK_ASSIGN(SemanticPack pack, parse_semantic_pack(pack_json));
    const std::optional<crypto::Ed25519PublicKey> key =
        crypto::decode_ed25519_public_key_pem(public_key_pem);
    if (!key) return false;
    const auto signature = signature_bytes(pack);
    if (!signature) return false;
    // The pack is not needed after its hash, so it is hashed in place rather than copied first.
    const std::string pack_id = pack.pack_id;
    const std::string schema_version = pack.schema_version;
    const std::string content_hash = content_hash_of(std::move(pack));
    return crypto::ed25519_verify(*key, payload_of(content_hash, pack_id, schema_version),
                                  *signature);
}

} // namespace vok::semantic_pack
