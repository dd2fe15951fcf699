// PEM text in the strict form of RFC 7468.
//
// Keys arrive as PEM text from callers. The strict form admits exactly one document: optional white
// space, a "-----BEGIN <label>-----" line, base64 lines, and the matching "-----END <label>-----"
// line, then optional white space. Lines end in LF or CRLF. Encapsulated headers (RFC 1421's
// "Proc-Type:" lines, which announce encryption) are refused rather than ignored, so an encrypted
// key can never be mistaken for a plain one. The body must be canonical base64 (see base64.h).
// OpenSSL's PEM readers accept headers and may prompt for a passphrase, hence our own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace vok::encoding {

// The DER bytes of the document when its label is `expected_label`; otherwise a description of
// the fault, e.g. "unexpected PEM type label: expecting \"PRIVATE KEY\"".
Result<std::vector<uint8_t>, std::string> pem_decode(std::string_view text,
                                                     std::string_view expected_label);

} // namespace vok::encoding
