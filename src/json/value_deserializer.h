// Typed reading from an already parsed JSON value.
//
// Used for documents that are parsed once and then read as records (semantic packs). Messages are
// those of reading from text without a position, with two differences in kind that come from there
// being no text: an array with more elements than a record has fields fails with "invalid length
// N, expected fewer elements in array", and an enum must be a string or an object with a single
// key.
//
// The value must outlive the deserializer.
#pragma once

#include <vector>

#include "json/deserializer.h"

namespace vok::json {

class ValueDeserializer final : public Deserializer {
public:
    explicit ValueDeserializer(const Value& root) : current_(&root) {}

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
    Error positioned(Error e) override { return e; }

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
        const Value* container;
        size_t next = 0;
    };
    // The value the next read consumes.
    const Value& take();

    const Value* current_;
    std::vector<Frame> frames_;
};

} // namespace vok::json
