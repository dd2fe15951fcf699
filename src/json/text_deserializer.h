// Streaming typed reading over JSON text, and the reader of generic values from text.
//
// The reader is strict RFC 8259: no comments, no trailing commas, no leading zeros, nothing but
// white space (space, tab, line feed, carriage return) around the document; strings must be valid
// UTF-8 and may not hold raw control characters or unpaired surrogate escapes. Every object or
// array entered takes one level of a budget of 128 nesting levels; deeper input fails with
// "recursion limit exceeded" instead of exhausting the stack. Skipped values are walked without
// recursion.
//
// Positions: lines count from 1; the column counts the bytes from the start of the line up to the
// point where the failure was seen: the end of what was consumed, or, for a failure noticed on the
// character about to be read, that character included.
//
// Reading polls for cancellation at the start of every array element and object member, so a
// document of any size can be stopped; what was read so far is dropped with the reader.
//
// The text must outlive the deserializer, and the deserializer is used on the thread that made it;
// nothing is copied but the strings it returns.
#pragma once

#include <string_view>
#include <vector>

#include "common/cancellation.h"
#include "json/deserializer.h"

namespace vok::json {

class TextDeserializer final : public Deserializer {
public:
    explicit TextDeserializer(std::string_view text) : text_(text) {}

    // After the document: only white space may follow.
    Status finish();

    // Makes skipped values (unknown keys of a record) take nesting levels like read ones, so that
    // a document is refused as too deep whether or not a reader looks at its deep part.
    void count_levels_when_skipping() { count_skipped_levels_ = true; }

    Result<Value, Error> read_any() override;
    Status skip_any() override;
    Result<std::string, Error> read_string(std::string_view expecting) override;
    Result<bool, Error> read_bool(std::string_view expecting) override;
    Result<uint64_t, Error> read_unsigned(std::string_view type_name, uint64_t max) override;
    Result<int64_t, Error> read_signed(std::string_view type_name, int64_t min,
                                       int64_t max) override;
    Result<Value, Error> read_scalar(std::string_view expecting) override;
    Status read_unit() override;
    Result<bool, Error> read_none() override;
    Error positioned(Error e) override;

    Result<Form, Error> begin_struct(std::string_view expecting) override;
    Status begin_seq(std::string_view expecting) override;
    Status begin_map(std::string_view expecting) override;
    Result<std::optional<std::string>, Error> next_key() override;
    Result<bool, Error> next_element() override;
    Status end(Form form, Status visited) override;

    Result<EnumTag, Error> begin_enum(std::span<const std::string_view> variants) override;
    Status end_enum(EnumForm form, Status content) override;

private:
    struct Frame {
        Form form;
        bool first = true;
    };

    // ---- positions and errors ----
    Error error_at(size_t index, std::string message) const;
    // At the current index (after what was consumed).
    Error error(ErrorCode code) const;
    // At the character about to be read.
    Error peek_error(ErrorCode code) const;
    Error fix_position(Error e) const;

    // ---- syntax layer ----
    bool at_end() const { return index_ >= text_.size(); }
    // Skips white space and returns the next byte, or -1 at the end.
    int parse_whitespace();
    int peek() const { return at_end() ? -1 : static_cast<unsigned char>(text_[index_]); }
    Status parse_ident(std::string_view rest);
    Status parse_object_colon();
    // Reads a string whose opening quote was consumed.
    Result<std::string, Error> parse_str();
    Status parse_str_into(std::string& out);
    Status ignore_str();
    Status parse_escape(std::string& out, bool validate);
    Result<uint16_t, Error> decode_hex_escape();
    Result<Number, Error> parse_integer(bool positive);
    Result<Number, Error> parse_number_tail(bool positive, uint64_t significand, bool overflowed,
                                            size_t start);
    Result<double, Error> parse_float_text(size_t start);
    Status ignore_integer();
    Status parse_value_into(Value& out);
    Result<int, Error> next_item(bool& first, char close, ErrorCode comma_or_end,
                                 ErrorCode eof_in_container);
    Error peek_invalid_type(std::string_view expecting);
    Status end_seq();
    Status end_map();
    Status enter_level();
    void leave_level() { ++remaining_depth_; }
    // Consumes the ':' before a map value when a key has just been read.
    Status prepare_value();

    std::string_view text_;
    size_t index_ = 0;
    CancellationPoller poller_;
    int remaining_depth_ = 128;
    bool pending_colon_ = false;
    bool count_skipped_levels_ = false;
    std::vector<Frame> frames_;
    // Scratch stacks for the items of the arrays and objects being read: each container takes its
    // items from here at once, sized exactly, instead of growing a vector of its own.
    std::vector<Value> value_stack_;
    std::vector<Object::Entry> entry_stack_;
};

// Reads a generic value from a whole JSON text.
Result<Value, Error> parse(std::string_view text);

// Reads a whole document with `read` (a record reader) and checks that nothing follows it.
template <class T>
Result<T, Error> read_document(std::string_view text, Result<T, Error> (*read)(Deserializer&)) {
    TextDeserializer de(text);
    auto value = read(de);
    if (!value.ok()) return value;
    VOK_TRY(de.finish());
    return value;
}

} // namespace vok::json
