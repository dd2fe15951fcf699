// Standard base64 (RFC 4648 section 4: the "+/" alphabet with "=" padding).
//
// Signatures travel as base64 text inside pack documents, and a verifier must agree on exactly
// one text per byte string: otherwise a signed pack could be re-encoded into a second, different
// document that still verifies. Decoding is therefore canonical-only: the length is a multiple of
// four, "=" appears only as the padding the length requires, and the bits the last character
// carries beyond the data are zero. OpenSSL's EVP_DecodeBlock accepts leftover bits, so decoding
// is our own; encoding has a single form and uses EVP_EncodeBlock.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vok::encoding {

std::string base64_encode(std::span<const uint8_t> bytes);

// The bytes of a canonical base64 text, or nothing for any other text (including white space).
std::optional<std::vector<uint8_t>> base64_decode(std::string_view text);

} // namespace vok::encoding
