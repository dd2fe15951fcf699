#include "encoding/base64.h"

#include <gtest/gtest.h>

namespace vok::encoding {
namespace {

std::vector<uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Base64, RoundTripsTheRfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64_encode(bytes_of(plain)), encoded);
        EXPECT_EQ(base64_decode(encoded), bytes_of(plain)) << encoded;
    }
}

TEST(Base64, RefusesEveryNonCanonicalText) {
    for (const char* text : {
             "Zg",       // length not a multiple of four
             "Zg=",      // short padding
             "Zh==",     // leftover bits in the last character
             "Zm9=",     // leftover bits with one pad
             "Z===",     // too much padding
             "====",     // padding alone
             "Zg==Zg==", // padding in the middle
             "Zm9v\n",   // white space
             "Zm-v",     // URL-safe alphabet
             "Zm_v",
             "Zm9v Zm9v", // blank
         }) {
        EXPECT_EQ(base64_decode(text), std::nullopt) << text;
    }
}

TEST(Base64, SixtyFourByteSignaturesTakeEightyEightCharacters) {
    const std::vector<uint8_t> signature(64, 0xAB);
    const std::string text = base64_encode(signature);
    EXPECT_EQ(text.size(), 88u);
    EXPECT_TRUE(text.ends_with("=="));
    EXPECT_EQ(base64_decode(text), signature);
}

} // namespace
} // namespace vok::encoding
