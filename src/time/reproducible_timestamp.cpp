// Reading SOURCE_DATE_EPOCH; relies on common/utf8 to judge the bytes and on the RFC 3339 writer.
#include "time/reproducible_timestamp.h"

#include <cstdlib>

#include "common/utf8.h"
#include "time/rfc3339.h"

namespace vok {

namespace {

// -262143-01-01T00:00:00 and 262142-12-31T23:59:59: stamps cover the proleptic Gregorian years
// -262143 to 262142 exactly, whole years at both ends.
constexpr int64_t kFirstUsableSecond = -8'334'601'228'800;
constexpr int64_t kLastUsableSecond = 8'210'266'876'799;

} // namespace

std::optional<std::string> source_date_epoch() {
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr) return std::nullopt;
    std::string text(value);
    if (!is_valid_utf8(text)) return std::nullopt;
    return text;
}

std::optional<int64_t> parse_epoch_seconds(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulate the magnitude as unsigned so that -9223372036854775808 is representable and
    // overflow is caught before it happens.
    constexpr uint64_t kMaxMagnitude = uint64_t{1} << 63;
    uint64_t magnitude = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (magnitude > (kMaxMagnitude - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative && magnitude == kMaxMagnitude) return std::nullopt;
    const int64_t seconds =
        negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    if (seconds < kFirstUsableSecond || seconds > kLastUsableSecond) return std::nullopt;
    return seconds;
}

std::optional<std::string> reproducible_timestamp() {
    const std::optional<std::string> text = source_date_epoch();
    if (!text) return std::nullopt;
    const std::optional<int64_t> seconds = parse_epoch_seconds(*text);
    if (!seconds) return std::nullopt;
    return format_rfc3339(UtcInstant{*seconds, 0});
}

} // namespace vok
