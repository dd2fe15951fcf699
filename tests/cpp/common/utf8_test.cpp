// Decoding, validating, encoding and lossy-subpart lengths of UTF-8, and the hex helpers.
#include <gtest/gtest.h>

#include <string>

#include "common/hex.h"
#include "common/utf8.h"

namespace {

using namespace vok;

DecodedChar decode(const std::string& bytes) {
    return decode_utf8(bytes.data(), bytes.data() + bytes.size());
}

TEST(Utf8, DecodesValidSequences) {
    struct Case {
        std::string bytes;
        int32_t code_point;
        uint32_t length;
    } cases[] = {
        {"a", 'a', 1},
        {"\xc3\xa9", 0xE9, 2},
        {"\xe2\x82\xac", 0x20AC, 3},
        {"\xf0\x9f\x98\x80", 0x1F600, 4},
        {"\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
    };
    for (const Case& c : cases) {
        const DecodedChar d = decode(c.bytes);
        EXPECT_EQ(d.code_point, c.code_point);
        EXPECT_EQ(d.length, c.length);
        // The encoder writes back exactly the bytes the decoder read.
        std::string encoded;
        append_utf8(encoded, static_cast<char32_t>(c.code_point));
        EXPECT_EQ(encoded, c.bytes);
        EXPECT_TRUE(is_valid_utf8(c.bytes));
        EXPECT_EQ(utf8_sequence_length(c.bytes, 0), c.length);
    }
}

TEST(Utf8, InvalidBytesAreSingleCharacters) {
    // Each with the maximal subpart a lossy conversion replaces by one U+FFFD.
    struct Case {
        std::string bytes;
        size_t invalid_length;
    } cases[] = {
        {"\x80", 1},             // stray continuation
        {"\xc0\xaf", 1},         // overlong
        {"\xe0\x80\xaf", 1},     // overlong
        {"\xed\xa0\x80", 1},     // surrogate
        {"\xf4\x90\x80\x80", 1}, // beyond U+10FFFF
        {"\xf0\x9f\x98", 3},     // truncated at the end of input
        {"\xe2\x82x", 2},        // truncated before an ASCII byte
        {"\xc3", 1},             // truncated
        {"\xff", 1},
    };
    for (const Case& c : cases) {
        const DecodedChar d = decode(c.bytes);
        EXPECT_EQ(d.code_point, kInvalidCodePoint);
        EXPECT_EQ(d.length, 1u);
        EXPECT_EQ(utf8_sequence_length(c.bytes, 0), 0u);
        EXPECT_EQ(utf8_invalid_length(c.bytes, 0), c.invalid_length) << c.bytes;
        EXPECT_FALSE(is_valid_utf8("ok" + c.bytes));
    }
}

TEST(Hex, LowercaseDigitsInEveryWidth) {
    std::string out;
    append_hex_byte(out, 0x0A);
    append_hex_byte(out, 0xFF);
    const unsigned char bytes[] = {0x00, 0x7F, 0xB4};
    append_hex_bytes(out, bytes, 3);
    EXPECT_EQ(out, "0aff007fb4");
    for (auto [value, shortest] : {std::pair<uint64_t, const char*>{0, "0"},
                                   {0x1F600, "1f600"},
                                   {~uint64_t{0}, "ffffffffffffffff"}}) {
        std::string text;
        append_hex_number(text, value);
        EXPECT_EQ(text, shortest);
    }
    std::string fixed;
    append_hex_fixed(fixed, 0xABC, 8);
    EXPECT_EQ(fixed, "00000abc");
    EXPECT_EQ(hex_value('7'), 7);
    EXPECT_EQ(hex_value('f'), 15);
    EXPECT_EQ(hex_value('F'), 15);
    EXPECT_EQ(hex_value('g'), -1);
    EXPECT_EQ(hex_value('/'), -1);
    for (int byte = 0; byte < 256; ++byte)
        EXPECT_EQ(is_hex_digit(static_cast<char>(byte)), hex_value(static_cast<char>(byte)) >= 0)
            << byte;
}

} // namespace
