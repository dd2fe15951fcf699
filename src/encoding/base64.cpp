// Base64 encoding through OpenSSL and a strict decoder of our own; see base64.h.
#include "encoding/base64.h"

#include <array>
#include <limits>
#include <openssl/evp.h>
#include <stdexcept>

namespace vok::encoding {

namespace {

constexpr uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<uint8_t, 256> make_decode_table() {
    std::array<uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kNotInAlphabet;
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<uint8_t>(i);
    }
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = make_decode_table();

} // namespace

std::string base64_encode(std::span<const uint8_t> bytes) {
    // EVP_EncodeBlock takes an int length; callers encode signatures and keys, never gigabytes.
    if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 4 * 3)) {
        throw std::length_error("base64_encode: input too large");
    }
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                        static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(written));
    return text;
}

std::optional<std::vector<uint8_t>> base64_decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t group = 0; group < text.size(); group += 4) {
        const bool last = group + 4 == text.size();
        const size_t data_chars = last ? 4 - padding : 4;
        uint32_t bits = 0;
        for (size_t i = 0; i < 4; ++i) {
            uint8_t value = 0;
            if (i < data_chars) {
                value = kDecode[static_cast<unsigned char>(text[group + i])];
                if (value == kNotInAlphabet) return std::nullopt;
            }
            bits = (bits << 6) | value;
        }
        bytes.push_back(static_cast<uint8_t>(bits >> 16));
        if (data_chars >= 3) bytes.push_back(static_cast<uint8_t>(bits >> 8));
        if (data_chars == 4) bytes.push_back(static_cast<uint8_t>(bits));
        // The bits below the last data byte must be zero, or two texts would decode alike.
        if (data_chars == 2 && (bits & 0xFFFF) != 0) return std::nullopt;
        if (data_chars == 3 && (bits & 0xFF) != 0) return std::nullopt;
    }
    return bytes;
}

} // namespace vok::encoding
