// Ed25519 signatures over semantic packs.
//
// What is signed is not the pack document but a four-line text naming the pack's content hash,
// its id and its schema version (`signing_payload`). The content hash leaves out the signature
// fields, the timestamp and the review manifest hash, so signing does not change the hash it
// covers and a signature survives re-stamping. The signer label (`trust.signed_by`) is covered by
// nothing: it is whatever the document says and proves nothing about who signed.
//
// Keys arrive as PEM text and live only for one call (crypto/ed25519_keys.h decodes them).
// Verification answers only true or false: every fault of the key or of the signature is "not
// verified", and `signature_alg`, `signature_state` and `signed_by` play no part in it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/error_variant.h"
#include "common/result.h"
#include "crypto/ed25519.h"
#include "semantic_pack/semantic_pack.h"
#include "json/error.h"

namespace vok::semantic_pack {

// The signed text: header, content hash, pack id and schema version, each ended by one line feed,
// inserted as they are.
std::string signing_payload(const SemanticPack& pack, std::string_view content_hash);

// Signs `pack` in place: sets `trust.signature` (base64 of the 64 signature bytes),
// `trust.signature_alg` "ed25519" and `trust.signature_state` signed; changes nothing else.
void sign_pack(SemanticPack& pack, const crypto::Ed25519Seed& seed);

// Whether the pack's signature is a valid Ed25519 signature by `key` over its signed text.
bool verify_pack_signature(const SemanticPack& pack, const crypto::Ed25519PublicKey& key);

// Why a pack document could not be signed.
struct SigningErrorAlternatives {
    // Rows in signing_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_SIGNING_ERROR_KIND(Name) Name,
#include "semantic_pack/signing_error_kind.def"
    };
    // The pack reader's error text.
    struct InvalidPack {
        std::string detail;
    };
    // The key decoder's message.
    struct KeyParse {
        std::string detail;
    };
    using Variant = VariantOfRows<void
#define VOK_SIGNING_ERROR_KIND(Name) , Name
#include "semantic_pack/signing_error_kind.def"
                                  >::type;
};

struct SigningError : ErrorVariant<SigningErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The reader's text or the decoder's message, as the alternative carries it.
    const std::string& detail() const;
    // "Invalid pack JSON: " and the reader's text, or "Signing error: KeyParseError(...)".
    std::string to_string() const;
};

// Reads the pack (before the key, so a document that is not a pack is reported even when the key
// is bad too), decodes the PKCS#8 private key, signs, and writes the signed document.
Result<std::string, SigningError> sign_pack_document(std::string_view pack_json,
                                                     std::string_view private_key_pem);

// Reads the pack and verifies its signature with the SubjectPublicKeyInfo key. Only an unreadable
// pack is an error; an undecodable key is "not verified".
Result<bool, json::Error> verify_pack_document(std::string_view pack_json,
                                               std::string_view public_key_pem);

} // namespace vok::semantic_pack
