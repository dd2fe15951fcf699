// SHA-256 over bytes, in one go or streamed, as the hash text "sha256:" + 64 lowercase hex digits
// or as the bare digits.
//
// Pack hashes are computed over texts of many megabytes that are written piece by piece; the
// streaming form lets the writer hand over each piece and drop it instead of holding the whole
// text. The CALM export names flows by the bare digits of a short input. Relies on OpenSSL's EVP
// interface: where it offers no SHA-256 (its configuration loads no provider that has it), every
// function throws EnvironmentFailure (common/environment_failure.h); out of memory, bad_alloc.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vok::crypto {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::string_view bytes);
    // The hash text of everything given so far; the object is spent afterwards.
    std::string finish_hex();

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

// "sha256:" followed by the lowercase hex SHA-256 digest of `bytes`: 71 characters.
std::string sha256_hex(std::string_view bytes);

// The 64 lowercase hex digits of the SHA-256 digest of `bytes`, without a prefix.
std::string sha256_hex_digits(std::string_view bytes);

} // namespace vok::crypto
