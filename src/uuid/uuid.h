// Uuid: a 128-bit universally unique identifier (RFC 4122), as used for concept ids and record ids.
//
// Ids are made two ways: name-based (version 5, SHA-1 over a namespace id and a name), so that the
// same namespace and name give the same id in every process, and random (version 4, from the
// operating system's cryptographic random source). The text form is the lowercase hyphenated
// 8-4-4-4-12 form; the parser also takes the simple, braced and "urn:uuid:" forms and describes
// what is wrong with a text in the words of the widely used Rust `uuid` crate, because those
// descriptions reach users verbatim.
//
// A Uuid is a plain 16-byte value in network (big-endian) byte order; ordering is by bytes.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/result.h"

namespace vok {

class Uuid {
public:
    std::array<uint8_t, 16> bytes{};

    static Uuid nil() { return Uuid{}; }
    // 6ba7b810-9dad-11d1-80b4-00c04fd430c8, the RFC 4122 namespace for DNS names.
    static const Uuid& namespace_dns();

    // 122 random bits from the OS random source (drawn through a per-thread pool that a fork
    // discards), version 4 and RFC 4122 variant bits set.
    static Uuid new_v4();
    // SHA-1 of the namespace's 16 bytes followed by the name's bytes, truncated to 16 bytes, with
    // version 5 and RFC 4122 variant bits set.
    static Uuid new_v5(const Uuid& ns, std::string_view name);
    // The same for a name given as consecutive pieces (hashed in turn, never joined): the id of
    // the concatenation.
    static Uuid new_v5(const Uuid& ns, std::initializer_list<std::string_view> name_pieces);

    // Accepts 32 hex digits, the hyphenated 8-4-4-4-12 form, the hyphenated form in braces and
    // the hyphenated form after "urn:uuid:"; hex digits in either case. The error is the
    // description of the first problem found (see uuid.cpp).
    static Result<Uuid, std::string> parse(std::string_view text);

    // Lowercase hyphenated form.
    std::string to_string() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;
    friend bool operator==(const Uuid&, const Uuid&) = default;
};

} // namespace vok

// Ids are hashed constantly (graph maps are keyed by them) and are already uniformly distributed
// (SHA-1 output or random bits), so folding the two halves is enough.
template <> struct std::hash<vok::Uuid> {
    size_t operator()(const vok::Uuid& id) const noexcept {
        uint64_t high;
        uint64_t low;
        std::memcpy(&high, id.bytes.data(), 8);
        std::memcpy(&low, id.bytes.data() + 8, 8);
        return static_cast<size_t>(high ^ (low * 0x9E3779B97F4A7C15ull));
    }
};
