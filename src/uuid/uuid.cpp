// Uuid generation, text form and parsing.
//
// Parsing has a fast path that only recognises the four accepted shapes by length; only a text
// that fails it is analysed again to say what is wrong. The analysis reports, in this order: input
// that is not UTF-8; the first character (after any brace or "urn:uuid:" prefix) that is neither a
// hex digit nor a hyphen, with its 1-based byte position in the whole input; a wrong length for a
// hyphen-free simple form; a group count other than five; the first group whose length is wrong.
// The last group's length is measured from the whole input (prefix and braces included), a quirk
// kept so that the texts agree with the Rust `uuid` crate's.
#include "uuid/uuid.h"

// The low-level SHA-1 calls hash on the stack with no EVP context or provider lookup: about a
// seventh of the cost per id of the EVP road, which matters when a file lowers tens of thousands
// of concept ids. OpenSSL 3 marks them deprecated but keeps them; its one-shot `SHA1()` fetches
// the algorithm on every call and is slower still.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "common/environment_failure.h"
#include "common/hex.h"
#include "common/invariant.h"
#include "common/utf8.h"

namespace vok {

namespace {

constexpr std::string_view kUrnPrefix = "urn:uuid:";

bool parse_simple(std::string_view text, Uuid& out) {
    for (size_t i = 0; i < 16; ++i) {
        int high = hex_value(text[2 * i]);
        int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out.bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

// Exactly 36 characters: hyphens at 8, 13, 18 and 23, hex digits everywhere else.
bool parse_hyphenated(std::string_view text, Uuid& out) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return false;
    }
    std::string simple;
    simple.reserve(32);
    for (char c : text) {
        if (c != '-') simple.push_back(c);
    }
    return parse_simple(simple, out);
}

// Why `input` is not a UUID; only called for input that the shape-checking parse refused.
std::string describe_invalid(std::string_view input) {
    if (!is_valid_utf8(input)) return "non-UTF8 input";

    std::string_view inner = input;
    size_t prefix_length = 0;
    bool simple = false;
    if (input.size() >= 2 && input.front() == '{' && input.back() == '}') {
        inner = input.substr(1, input.size() - 2);
        prefix_length = 1;
    } else if (input.substr(0, kUrnPrefix.size()) == kUrnPrefix) {
        inner = input.substr(kUrnPrefix.size());
        prefix_length = kUrnPrefix.size();
    } else {
        simple = true;
    }

    size_t hyphen_count = 0;
    size_t hyphen_positions[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < inner.size();) {
        size_t length = utf8_sequence_length(inner, i);
        char c = inner[i];
        if (length == 1 && c == '-') {
            if (hyphen_count < 4) hyphen_positions[hyphen_count] = i;
            ++hyphen_count;
        } else if (length != 1 || !is_hex_digit(c)) {
            return "invalid character: expected an optional prefix of `urn:uuid:` followed by "
                   "[0-9a-fA-F-], found `" +
                   std::string(inner.substr(i, length)) + "` at " +
                   std::to_string(i + prefix_length + 1);
        }
        i += length;
    }

    if (hyphen_count == 0 && simple) {
        return "invalid length: expected length 32 for simple format, found " +
               std::to_string(input.size());
    }
    if (hyphen_count != 4) {
        return "invalid group count: expected 5, found " + std::to_string(hyphen_count + 1);
    }
    constexpr size_t kGroupStarts[5] = {0, 9, 14, 19, 24};
    constexpr size_t kGroupLengths[5] = {8, 4, 4, 4, 12};
    auto group_error = [&](size_t group, size_t found) {
        return "invalid group length in group " + std::to_string(group) + ": expected " +
               std::to_string(kGroupLengths[group]) + ", found " + std::to_string(found);
    };
    for (size_t group = 0; group < 4; ++group) {
        // Earlier groups are right, so this hyphen lies at or after the group's start.
        if (hyphen_positions[group] != kGroupStarts[group + 1] - 1) {
            return group_error(group, hyphen_positions[group] - kGroupStarts[group]);
        }
    }
    return group_error(4, input.size() - kGroupStarts[4]);
}

} // namespace

const Uuid& Uuid::namespace_dns() {
    static const Uuid dns{{0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1, 0x80, 0xb4, 0x00, 0xc0,
                           0x4f, 0xd4, 0x30, 0xc8}};
    return dns;
}

namespace {

// Random ids come from a per-thread pool of bytes from the system's cryptographic random source,
// refilled 4 KiB at a time: one system call per 256 ids instead of one per id, which is most of
// the cost of a flow when a file declares many. A forked child must not hand out the ids its
// parent will, so a fork discards every pool (the child's one surviving thread sees a new fork
// generation and refills).
std::atomic<uint64_t> g_fork_generation{0};

void after_fork_in_child() {
    g_fork_generation.fetch_add(1, std::memory_order_relaxed);
}

class RandomPool {
public:
    void take(uint8_t* out, size_t count) {
        const uint64_t generation = g_fork_generation.load(std::memory_order_relaxed);
        if (generation != generation_ || used_ + count > sizeof bytes_) {
            refill();
            generation_ = generation;
        }
        std::memcpy(out, bytes_ + used_, count);
        // Bytes handed out are not kept: the pool only ever holds ids not yet issued.
        std::memset(bytes_ + used_, 0, count);
        used_ += count;
    }

private:
    void refill() {
        static std::once_flag registered;
        std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, after_fork_in_child); });
        size_t filled = 0;
        while (filled < sizeof bytes_) {
            const ssize_t got = getrandom(bytes_ + filled, sizeof bytes_ - filled, 0);
            if (got > 0) {
                filled += static_cast<size_t>(got);
            } else if (got < 0 && errno != EINTR) {
                if (RAND_bytes(bytes_ + filled, static_cast<int>(sizeof bytes_ - filled)) != 1)
                    environment_failed("no cryptographic random source is available");
                filled = sizeof bytes_;
            }
        }
        used_ = 0;
    }

    uint8_t bytes_[4096] = {};
    size_t used_ = sizeof bytes_;
    uint64_t generation_ = 0;
};

// Constant-initialised and trivially destroyed: it lives in the thread-local block that preparing
// a thread makes (common/thread_preparation.h), with no constructor or destructor to register.
constinit thread_local RandomPool t_pool;

} // namespace

Uuid Uuid::new_v4() {
    Uuid id;
    t_pool.take(id.bytes.data(), id.bytes.size());
    id.bytes[6] = static_cast<uint8_t>((id.bytes[6] & 0x0F) | 0x40);
    id.bytes[8] = static_cast<uint8_t>((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

Uuid Uuid::new_v5(const Uuid& ns, std::string_view name) {
    return new_v5(ns, {name});
}

Uuid Uuid::new_v5(const Uuid& ns, std::initializer_list<std::string_view> name_pieces) {
    SHA_CTX context;
    unsigned char digest[SHA_DIGEST_LENGTH];
    bool ok =
        SHA1_Init(&context) == 1 && SHA1_Update(&context, ns.bytes.data(), ns.bytes.size()) == 1;
    for (std::string_view piece : name_pieces)
        ok = ok && SHA1_Update(&context, piece.data(), piece.size()) == 1;
    ok = ok && SHA1_Final(digest, &context) == 1;
    VOK_INVARIANT(ok, "SHA-1 digest failed");

    Uuid id;
    std::memcpy(id.bytes.data(), digest, id.bytes.size());
    id.bytes[6] = static_cast<uint8_t>((id.bytes[6] & 0x0F) | 0x50);
    id.bytes[8] = static_cast<uint8_t>((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

Result<Uuid, std::string> Uuid::parse(std::string_view text) {
    Uuid id;
    bool parsed = false;
    switch (text.size()) {
    case 32:
        parsed = parse_simple(text, id);
        break;
    case 36:
        parsed = parse_hyphenated(text, id);
        break;
    case 38:
        parsed =
            text.front() == '{' && text.back() == '}' && parse_hyphenated(text.substr(1, 36), id);
        break;
    case 45:
        parsed = text.substr(0, kUrnPrefix.size()) == kUrnPrefix &&
                 parse_hyphenated(text.substr(kUrnPrefix.size()), id);
        break;
    default:
        break;
    }
    if (parsed) return id;
    return Err(describe_invalid(text));
}

std::string Uuid::to_string() const {
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        append_hex_byte(text, bytes[i]);
    }
    return text;
}

} // namespace vok
