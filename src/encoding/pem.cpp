// Strict PEM decoding; see pem.h. Relies on the canonical base64 decoder.
#include "encoding/pem.h"

#include "encoding/base64.h"

namespace vok::encoding {

namespace {

constexpr std::string_view kBeginPrefix = "-----BEGIN ";
constexpr std::string_view kEndPrefix = "-----END ";
constexpr std::string_view kBoundarySuffix = "-----";

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits off the next line; the line excludes its LF and an immediately preceding CR.
std::string_view next_line(std::string_view& rest) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// RFC 7468 labels: printable ASCII without "-", single blanks or hyphens between the words.
bool is_valid_label(std::string_view label) {
    char previous = ' ';
    for (const char c : label) {
        const bool separator = c == ' ' || c == '-';
        if (separator) {
            if (previous == ' ' || previous == '-') return false;
        } else if (c < 0x21 || c > 0x7E) {
            return false;
        }
        previous = c;
    }
    return previous != ' ' && previous != '-';
}

std::string expecting(std::string_view expected_label) {
    std::string message = "unexpected PEM type label: expecting \"";
    message.append(expected_label);
    message += '"';
    return message;
}

} // namespace

Result<std::vector<uint8_t>, std::string> pem_decode(std::string_view text,
                                                     std::string_view expected_label) {
    std::string_view rest = trim(text);
    const std::string_view begin = next_line(rest);
    if (!begin.starts_with(kBeginPrefix) || !begin.ends_with(kBoundarySuffix) ||
        begin.size() < kBeginPrefix.size() + kBoundarySuffix.size()) {
        return Err(std::string("PEM pre-encapsulation boundary not found"));
    }
    const std::string_view label = begin.substr(
        kBeginPrefix.size(), begin.size() - kBeginPrefix.size() - kBoundarySuffix.size());
    if (!is_valid_label(label)) return Err(std::string("PEM type label invalid"));
    if (label != expected_label) return Err(expecting(expected_label));

    std::string body;
    while (true) {
        if (rest.empty()) return Err(std::string("PEM post-encapsulation boundary not found"));
        const std::string_view line = next_line(rest);
        if (line.starts_with(kEndPrefix)) {
            if (line.size() != kEndPrefix.size() + label.size() + kBoundarySuffix.size() ||
                line.substr(kEndPrefix.size(), label.size()) != label ||
                !line.ends_with(kBoundarySuffix)) {
                return Err(std::string("PEM boundaries mismatch"));
            }
            if (!rest.empty()) return Err(std::string("PEM data follows the end boundary"));
            break;
        }
        if (line.find(':') != std::string_view::npos) {
            return Err(std::string("PEM headers disallowed by RFC7468"));
        }
        if (line.empty()) return Err(std::string("PEM body contains an empty line"));
        body.append(line);
    }
    std::optional<std::vector<uint8_t>> der = base64_decode(body);
    if (!der) return Err(std::string("PEM Base64 encoding invalid"));
    return std::move(*der);
}

} // namespace vok::encoding
