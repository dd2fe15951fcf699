// DER element reading; see der.h.
#include "encoding/der.h"

#include "common/hex.h"

namespace vok::encoding {

namespace {

std::string at(std::string_view what, size_t offset) {
    std::string message(what);
    message += " at byte ";
    message += std::to_string(offset);
    return message;
}

std::string hex_byte(uint8_t value) {
    std::string text = "0x";
    append_hex_byte(text, value);
    return text;
}

} // namespace

Result<DerElement, std::string> DerReader::read_any() {
    const size_t start = position_;
    const size_t absolute = base_offset_ + start;
    if (at_end()) return Err(at("DER element expected, input ends", absolute));
    const uint8_t tag = input_[position_++];
    if ((tag & 0x1F) == 0x1F) return Err(at("DER multi-byte tags are not supported", absolute));
    if (at_end()) return Err(at("DER length missing", absolute));
    const uint8_t first = input_[position_++];
    size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else if (first == 0x80) {
        return Err(at("DER indefinite length not allowed", absolute));
    } else {
        const size_t count = first & 0x7F;
        if (count > 4) return Err(at("DER length too large", absolute));
        if (input_.size() - position_ < count) return Err(at("DER length truncated", absolute));
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | input_[position_++];
        // The shortest form only: no leading zero byte, and long form only from 128 up.
        if (input_[start + 2] == 0 || length < 0x80) {
            return Err(at("DER length not in its shortest form", absolute));
        }
    }
    if (input_.size() - position_ < length) {
        return Err(at("DER length exceeds the remaining input", absolute));
    }
    DerElement element{tag, input_.subspan(position_, length), absolute};
    position_ += length;
    return element;
}

Result<DerElement, std::string> DerReader::read(uint8_t expected_tag) {
    if (!at_end() && input_[position_] != expected_tag) {
        return Err(at("DER unexpected tag " + hex_byte(input_[position_]) + " (expected " +
                          hex_byte(expected_tag) + ")",
                      base_offset_ + position_));
    }
    return read_any();
}

DerReader DerReader::inside(const DerElement& element) {
    // The content starts after the tag and the length bytes.
    const size_t header = 1 + (element.content.size() < 0x80        ? 1
                               : element.content.size() < 0x100     ? 2
                               : element.content.size() < 0x10000   ? 3
                               : element.content.size() < 0x1000000 ? 4
                                                                    : 5);
    return DerReader(element.content, element.offset + header);
}

Result<void, std::string> DerReader::finish() const {
    if (!at_end()) return Err(at("DER trailing data", base_offset_ + position_));
    return Ok();
}

Result<uint64_t, std::string> der_small_unsigned(const DerElement& integer) {
    const auto bytes = integer.content;
    if (bytes.empty()) return Err(at("DER INTEGER is empty", integer.offset));
    if (bytes.size() > 1 && bytes[0] == 0 && (bytes[1] & 0x80) == 0) {
        return Err(at("DER INTEGER not in its shortest form", integer.offset));
    }
    if (bytes[0] & 0x80) return Err(at("DER INTEGER is negative", integer.offset));
    if (bytes.size() > 9 || (bytes.size() == 9 && bytes[0] != 0)) {
        return Err(at("DER INTEGER too large", integer.offset));
    }
    uint64_t value = 0;
    for (const uint8_t b : bytes)
        value = (value << 8) | b;
    return value;
}

Result<std::string, std::string> der_object_identifier_text(const DerElement& oid) {
    const auto bytes = oid.content;
    if (bytes.empty()) return Err(at("DER OBJECT IDENTIFIER is empty", oid.offset));
    std::string text;
    uint64_t arc = 0;
    bool first_arc = true;
    bool arc_started = false;
    for (const uint8_t b : bytes) {
        if (!arc_started && b == 0x80) {
            return Err(at("DER OBJECT IDENTIFIER arc not in its shortest form", oid.offset));
        }
        if (arc > (UINT64_MAX >> 7))
            return Err(at("DER OBJECT IDENTIFIER arc too large", oid.offset));
        arc = (arc << 7) | (b & 0x7F);
        arc_started = true;
        if (b & 0x80) continue;
        if (first_arc) {
            // The first subidentifier packs the first two arcs as 40 * X + Y.
            const uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - 40 * top);
            first_arc = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
        arc_started = false;
    }
    if (arc_started) return Err(at("DER OBJECT IDENTIFIER truncated", oid.offset));
    return text;
}

} // namespace vok::encoding
