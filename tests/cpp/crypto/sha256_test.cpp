// SHA-256 in its three forms: the hash text, the bare digits and the streamed digest, which must
// agree with one another wherever the input is cut.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

namespace vok::crypto {
namespace {

struct Vector {
    std::string input;
    const char* digits;
};

class Sha256Vectors : public ::testing::TestWithParam<Vector> {};

TEST_P(Sha256Vectors, EveryFormGivesTheKnownDigest) {
    const Vector& v = GetParam();
    EXPECT_EQ(sha256_hex_digits(v.input), v.digits);
    EXPECT_EQ(sha256_hex(v.input), std::string("sha256:") + v.digits);
    // Every cut of the input into two pieces, an empty piece included, streams to the same text.
    for (size_t cut = 0; cut <= v.input.size(); ++cut) {
        Sha256 sha;
        sha.update(std::string_view(v.input).substr(0, cut));
        sha.update("");
        sha.update(std::string_view(v.input).substr(cut));
        EXPECT_EQ(sha.finish_hex(), std::string("sha256:") + v.digits) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Known, Sha256Vectors,
    ::testing::Values(
        Vector{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        Vector{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Two blocks once padded.
        Vector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // A NUL byte inside is hashed, it does not end the input.
        Vector{std::string("a\0b", 3),
               "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"}));

} // namespace
} // namespace vok::crypto
