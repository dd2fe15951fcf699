// FormatError: why a formatting run produced no text.
//
// Printing a syntax tree cannot fail, so a run fails for one of two reasons only: the source does
// not parse, or the layout asked for (an enormous indent width) would make a text too large to
// hold. The second is refused before anything that large is allocated. Every message text of the
// formatter lives in to_string().
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vok {

class FormatError {
public:
    enum class Kind : uint8_t { Parse, OutputTooLarge };

    // `parser_message` is the display text of the parser's error.
    static FormatError parse(std::string parser_message);
    // `bytes` is the size the text would have had; nothing when that size does not fit 64 bits.
    static FormatError output_too_large(std::optional<uint64_t> bytes);

    Kind kind() const { return kind_; }
    // "Parse error: " followed by the parser's message, or the size refusal.
    std::string to_string() const;

    friend bool operator==(const FormatError&, const FormatError&) = default;

private:
    FormatError(Kind kind, std::string message, std::optional<uint64_t> bytes)
        : kind_(kind), message_(std::move(message)), bytes_(bytes) {}

    Kind kind_;
    std::string message_;
    std::optional<uint64_t> bytes_;
};

} // namespace vok
