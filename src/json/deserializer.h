// Typed reading of JSON: the interface every record reader is written against.
//
// A record reader pulls what it expects from a Deserializer: a string here, a struct there. Two
// deserializers implement the interface: TextDeserializer streams over JSON text and reports
// errors with line and column; ValueDeserializer walks an already parsed Value and reports errors
// without a position. The record readers are written once and give the same messages on both,
// apart from positions.
//
// Error positions follow one rule: an error found while reading a value is positioned where the
// reader stands when it notices it; an error a record reader raises itself (a missing field, a
// duplicate field) is positioned when the struct around it is closed (`end`). `positioned` applies
// the current position to an error a caller raises right after a read (an unparsable UUID text,
// say).
//
// Reading a map value: after `next_key` returns a key, the next read (or `skip_any`) reads that
// key's value; reading a sequence element: after `next_element` returns true, the next read reads
// the element.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "common/function_ref.h"
#include "common/result.h"
#include "json/error.h"
#include "json/value.h"

namespace vok::json {

using Status = Result<void, Error>;

enum class Form : uint8_t { Map, Seq };
// How an externally tagged enum was written: a bare variant name, or {"Variant": content}.
enum class EnumForm : uint8_t { Bare, Tagged };

struct EnumTag {
    size_t variant = 0;
    EnumForm form = EnumForm::Bare;
};

class Deserializer {
public:
    virtual ~Deserializer() = default;

    // Any JSON value, as a generic Value.
    virtual Result<Value, Error> read_any() = 0;
    // Skips one value whatever it holds (unknown keys of a record).
    virtual Status skip_any() = 0;
    virtual Result<std::string, Error> read_string(std::string_view expecting) = 0;
    virtual Result<bool, Error> read_bool(std::string_view expecting) = 0;
    // An integer within [0, max]; `type_name` ("u32") names it in messages.
    virtual Result<uint64_t, Error> read_unsigned(std::string_view type_name, uint64_t max) = 0;
    virtual Result<int64_t, Error> read_signed(std::string_view type_name, int64_t min,
                                               int64_t max) = 0;
    // A number, string, boolean or null as a Value; an array or object is refused naming
    // `expecting`. For readers that accept several scalar kinds (decimals: number or text).
    virtual Result<Value, Error> read_scalar(std::string_view expecting) = 0;
    // JSON null (the content of a unit variant written as {"Name": null}).
    virtual Status read_unit() = 0;
    // For an optional value: true, and the null consumed, when the next value is null.
    virtual Result<bool, Error> read_none() = 0;
    // Gives `e` the reader's current position unless it already has one (text only).
    virtual Error positioned(Error e) = 0;

    // A struct accepts an object (fields by name) or an array (fields in order).
    virtual Result<Form, Error> begin_struct(std::string_view expecting) = 0;
    virtual Status begin_seq(std::string_view expecting) = 0;
    virtual Status begin_map(std::string_view expecting) = 0;
    // The next key of the innermost map, or nothing at its end.
    virtual Result<std::optional<std::string>, Error> next_key() = 0;
    // Whether the innermost sequence has another element.
    virtual Result<bool, Error> next_element() = 0;
    // Closes the innermost compound. `visited` is the outcome of reading its content: its error
    // wins over an error of the closing itself.
    virtual Status end(Form form, Status visited) = 0;

    // An externally tagged enum: a bare string naming the variant, or an object whose one key
    // names it. An unknown name fails with the unknown-variant message listing `variants`. For the
    // tagged form the content is read next, then `end_enum` closes the object.
    virtual Result<EnumTag, Error> begin_enum(std::span<const std::string_view> variants) = 0;
    virtual Status end_enum(EnumForm form, Status content) = 0;
};

// ---- Record reading ----

// One field of a record. `read` reads the field's value (never null for an optional field: the
// null is consumed first and the field left absent). Readers are usually lambdas capturing the
// record by reference; std::function keeps such small captures inline, without allocating.
// A `defaulted` field may be left out (the record keeps its default) but, unlike an optional one,
// a null given for it goes to `read`, which usually refuses it.
struct Field {
    std::string_view name;
    bool optional = false;
    std::function<Status(Deserializer&)> read;
    bool defaulted = false;
};

// Reads a record from an object (fields by name, in any order, unknown keys skipped, a repeated
// field refused, missing required fields refused in declaration order) or from an array (every
// field in order, each required unless defaulted; an optional one may be null). `expecting` is how
// messages name the record, e.g. "struct Policy"; a short array is refused naming "struct Policy
// with 10 elements" ("with 1 element" for a record of one field).
Status read_struct(Deserializer& de, std::string_view expecting, std::span<Field> fields);

// A unit-only enumeration, written as its variant name or as {"Name": null}.
Result<size_t, Error> read_unit_enum(Deserializer& de, std::span<const std::string_view> variants);

// A list: each element read by `read_element`.
Status read_seq(Deserializer& de, std::string_view expecting,
                FunctionRef<Status(Deserializer&)> read_element);

// Common scalar readers with the messages of their types.
Result<uint32_t, Error> read_u32(Deserializer& de);
Result<int32_t, Error> read_i32(Deserializer& de);
Result<uint64_t, Error> read_u64(Deserializer& de);
Result<std::string, Error> read_string(Deserializer& de);

} // namespace vok::json
