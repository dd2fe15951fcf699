// A reader of DER (ITU-T X.690 distinguished encoding) for the few structures keys use.
//
// Only what key documents need: single-byte tags, definite lengths in their shortest form, and
// the object identifier's dotted text for messages. Everything else (indefinite lengths, long-form
// tags, a length that claims more bytes than remain, non-minimal encodings) is refused with a
// description naming the byte offset, so hostile input costs one pass and no recursion: callers
// descend into a constructed value by opening a new reader over its content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/result.h"

namespace vok::encoding {

namespace der_tag {
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kObjectIdentifier = 0x06;
constexpr uint8_t kSequence = 0x30;
} // namespace der_tag

// One tag-length-value element; `content` points into the reader's input.
struct DerElement {
    uint8_t tag = 0;
    std::span<const uint8_t> content;
    size_t offset = 0; // of the tag byte, from the start of the outermost input
};

class DerReader {
public:
    explicit DerReader(std::span<const uint8_t> input, size_t base_offset = 0)
        : input_(input), base_offset_(base_offset) {}

    bool at_end() const { return position_ == input_.size(); }
    // The next element's tag, without consuming it; 0 at the end.
    uint8_t peek_tag() const { return at_end() ? 0 : input_[position_]; }

    // The next element, which must carry `expected_tag`.
    Result<DerElement, std::string> read(uint8_t expected_tag);
    // The next element, whatever its tag.
    Result<DerElement, std::string> read_any();

    // A reader over a constructed element's content, keeping offsets absolute.
    static DerReader inside(const DerElement& element);

    // Fails unless every byte was consumed.
    Result<void, std::string> finish() const;

private:
    std::span<const uint8_t> input_;
    size_t base_offset_ = 0;
    size_t position_ = 0;
};

// The value of a small non-negative INTEGER element (minimal encoding required).
Result<uint64_t, std::string> der_small_unsigned(const DerElement& integer);

// "1.3.101.112" for an OBJECT IDENTIFIER element's content.
Result<std::string, std::string> der_object_identifier_text(const DerElement& oid);

} // namespace vok::encoding
