// Ed25519 keys from PEM text: PKCS#8 private keys (RFC 5958) and SubjectPublicKeyInfo public keys
// (RFC 5280), with the algorithm identifier 1.3.101.112 of RFC 8410.
//
// A private key is checked in a fixed order, and the first fault names the message the caller
// sees: the PEM label and the DER structure ("PKCS#8 ASN.1 error: ..."), the algorithm ("public key
// error: unknown/unsupported algorithm OID: <dotted>"), the absence of parameters ("PKCS#8
// algorithm parameters malformed"), then the 32-byte seed and, when the document carries one, a
// public key that must be the seed's own ("PKCS#8 cryptographic key data malformed"). Public keys
// are only ever used to verify, where every fault means "not verified", so they decode to a key
// or to nothing.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "crypto/ed25519.h"

namespace vok::crypto {

Result<std::unique_ptr<Ed25519Seed>, std::string>
decode_ed25519_private_key_pem(std::string_view pem);

std::optional<Ed25519PublicKey> decode_ed25519_public_key_pem(std::string_view pem);

} // namespace vok::crypto
