// Fuzzes pack signing and verification: the input's bytes choose a pack (pack_generator.h) and
// an Ed25519 seed; the pack document is signed with the seed's PEM key and the laws are:
// - the signed document verifies with the matching public key and not with another key, and
//   keeps the content hash the unsigned pack had;
// - signing again gives the same document, byte for byte;
// - a single byte of the signed document changed (a few positions and bytes per input):
//   either the text no longer reads as a pack, or it verifies exactly when the change is one the
//   signed text does not cover: same content hash, pack id and schema version, and the same
//   signature bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/ed25519.h"
#include "encoding/base64.h"
#include "fuzz_choices.h"
#include "pack_generator.h"
#include "semantic_pack/signing.h"

namespace {

using namespace vok;
using namespace vok::semantic_pack;
using fuzzing::broken;
using fuzzing::Choices;

std::string pem(const char* label, const std::vector<uint8_t>& der) {
    const std::string body = encoding::base64_encode(der);
    std::string out = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t at = 0; at < body.size(); at += 64)
        out += body.substr(at, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

// PKCS#8 for Ed25519: the fixed header of RFC 8410 and the 32-byte seed.
std::string private_key_pem(const std::array<uint8_t, 32>& seed) {
    std::vector<uint8_t> der = {0x30, 0x2e, 0x02, 0x01, 0x00, 0x30, 0x05, 0x06,
                                0x03, 0x2b, 0x65, 0x70, 0x04, 0x22, 0x04, 0x20};
    der.insert(der.end(), seed.begin(), seed.end());
    return pem("PRIVATE KEY", der);
}

// SubjectPublicKeyInfo for Ed25519.
std::string public_key_pem(const crypto::Ed25519PublicKey& key) {
    std::vector<uint8_t> der = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03,
                                0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
    der.insert(der.end(), key.begin(), key.end());
    return pem("PUBLIC KEY", der);
}

std::string signed_text(const SemanticPack& pack) {
    return signing_payload(pack, pack.content_hash());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Choices c(data, size);
    fuzzing::PackGenerator generator(c);
    const SemanticPack pack = generator.pack();
    std::array<uint8_t, 32> seed_bytes{};
    for (uint8_t& b : seed_bytes)
        b = c.integer<uint8_t>(0, 255);
    const crypto::Ed25519Seed seed(seed_bytes);
    const std::string private_pem = private_key_pem(seed_bytes);
    const std::string public_pem = public_key_pem(crypto::ed25519_public_key(seed));
    std::array<uint8_t, 32> other_bytes = seed_bytes;
    other_bytes[0] ^= 1;
    const std::string other_pem =
        public_key_pem(crypto::ed25519_public_key(crypto::Ed25519Seed(other_bytes)));

    const std::string document = pack.serialize();
    auto signed_document = sign_pack_document(document, private_pem);
    if (!signed_document.ok())
        broken("a generated pack does not sign", document, signed_document.error().to_string());
    auto again = sign_pack_document(document, private_pem);
    if (!again.ok() || *again != *signed_document)
        broken("signing twice gives different documents", *signed_document);
    auto verified = verify_pack_document(*signed_document, public_pem);
    if (!verified.ok() || !*verified) broken("a signed pack does not verify", *signed_document);
    auto forged = verify_pack_document(*signed_document, other_pem);
    if (!forged.ok() || *forged)
        broken("a signed pack verifies with another key", *signed_document);
    auto signed_pack = parse_semantic_pack(*signed_document);
    if (!signed_pack.ok()) broken("a signed document does not read", *signed_document);
    if (signed_pack->content_hash() != pack.content_hash())
        broken("signing changed the content hash", *signed_document);
    const std::string payload = signed_text(*signed_pack);
    const std::optional<std::string> signature = signed_pack->trust.signature;

    // Each input tries a few single-byte changes, half of them anywhere in the text and half in
    // the value of a field at the edge of what the signature covers. A small generator seeded by
    // the input picks them, so that an input whose choices are used up still tries several.
    uint64_t state = c.integer<uint64_t>(0, UINT64_MAX);
    auto next = [&state] {
        state += 0x9E3779B97F4A7C15u;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    };
    static const char* const kEdgeKeys[] = {"\"created_at\":\"",     "\"review_manifest_hash\":\"",
                                            "\"signed_by\":\"",      "\"signature_alg\":\"",
                                            "\"signature\":\"",      "\"pack_id\":\"",
                                            "\"schema_version\":\"", "\"signature_state\":\"",
                                            "\"approval_state\":\""};
    for (int round = 0; round < 8; ++round) {
        size_t at = next() % signed_document->size();
        if (round % 2 == 1) {
            const std::string key = kEdgeKeys[next() % std::size(kEdgeKeys)];
            const size_t found = signed_document->find(key);
            if (found != std::string::npos) {
                const size_t start = found + key.size();
                const size_t end = signed_document->find('"', start);
                at = start + next() % (end - start + 1);
            }
        }
        std::string changed = *signed_document;
        const uint8_t old_byte = static_cast<uint8_t>(changed[at]);
        const uint8_t new_byte = static_cast<uint8_t>(old_byte + 1 + next() % 255);
        changed[at] = static_cast<char>(new_byte);
        auto changed_pack = parse_semantic_pack(changed);
        auto changed_verified = verify_pack_document(changed, public_pem);
        if (changed_pack.ok() != changed_verified.ok())
            broken("reading and verifying disagree on whether the text is a pack", changed);
        if (!changed_pack.ok()) continue;
        const bool covered_same =
            signed_text(*changed_pack) == payload && changed_pack->trust.signature == signature;
        if (*changed_verified != covered_same)
            broken(*changed_verified ? "a change the signature covers still verifies"
                                     : "a change the signature does not cover fails verification",
                   changed, "byte " + std::to_string(at) + " was " + std::to_string(old_byte));
    }
    return 0;
}
