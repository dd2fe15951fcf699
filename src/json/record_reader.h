// Rows for the record reader's field tables.
//
// Every record of the system read from JSON is read by `read_struct` from a table of fields (name,
// whether it may be absent, how its value is read). The rows that recur across the records (a
// text, an optional text, a boolean, a unit-only enumeration, a list, a nested record, any value)
// are made here, so that a record reader is its table and nothing else, and every record reads a
// value of one kind with the same messages. Each row stores into a variable the caller owns,
// which must outlive the read.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/deserializer.h"
#include "json/value.h"

namespace vok::json {

// A field that may be left out, keeping the value its variable already holds (its default); a
// null given for it is still refused by its reader.
inline Field defaulted(Field field) {
    field.defaulted = true;
    return field;
}

Field string_field(std::string_view name, std::string& out);
Field optional_string_field(std::string_view name, std::optional<std::string>& out);
Field bool_field(std::string_view name, bool& out);
Field string_list_field(std::string_view name, std::vector<std::string>& out);
// Any JSON value, kept as given.
Field value_field(std::string_view name, Value& out);
// A 64-bit float; integers are accepted and converted.
Field optional_f64_field(std::string_view name, std::optional<double>& out);

// A unit-only enumeration whose variants are `names`, in the order of the enumerators.
template <class Enum, size_t N>
Field enum_field(std::string_view name, Enum& out, const std::array<std::string_view, N>& names) {
    return {name, false, [&out, &names](Deserializer& de) -> Status {
                VOK_ASSIGN(size_t index, read_unit_enum(de, names));
                out = static_cast<Enum>(index);
                return Ok();
            }};
}

// A nested record read by `read`.
template <class T>
Field record_field(std::string_view name, T& out, Result<T, Error> (*read)(Deserializer&)) {
    return {name, false, [&out, read](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read(de));
                return Ok();
            }};
}

template <class T>
Field optional_record_field(std::string_view name, std::optional<T>& out,
                            Result<T, Error> (*read)(Deserializer&)) {
    return {name, true, [&out, read](Deserializer& de) -> Status {
                VOK_ASSIGN(T value, read(de));
                out.emplace(std::move(value));
                return Ok();
            }};
}

// A JSON array ("a sequence") whose elements are read by `read`.
template <class T>
Result<std::vector<T>, Error> read_list(Deserializer& de, Result<T, Error> (*read)(Deserializer&)) {
    std::vector<T> out;
    VOK_TRY(read_seq(de, "a sequence", [&](Deserializer& element) -> Status {
        VOK_ASSIGN(T value, read(element));
        out.push_back(std::move(value));
        return Ok();
    }));
    return out;
}

template <class T>
Field list_field(std::string_view name, std::vector<T>& out,
                 Result<T, Error> (*read)(Deserializer&)) {
    return {name, false, [&out, read](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read_list(de, read));
                return Ok();
            }};
}

} // namespace vok::json
