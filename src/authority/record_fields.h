// Building blocks shared by the readers of the authority records.
//
// The records are read with the JSON library's record reader (`json::read_struct`), which takes a
// table of fields; the helpers here make the common rows of such tables (a text, an optional text,
// a list of texts, a date-time, a raw JSON value, a nested record) so that each record reader is
// its table and nothing else. Every helper stores into a variable the caller owns, which must
// outlive the read.
//
// Documents read from text go through `read_authority_document`, which also counts the nesting of
// values that no record looks at: a configuration, request or fact list nested 128 levels deep is
// refused wherever the depth is, so every later copy, comparison or walk of the raw values it
// keeps stays within that depth.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "time/rfc3339.h"
#include "json/deserializer.h"
#include "json/text_deserializer.h"
#include "json/value.h"

namespace vok::authority {

// A field that may be left out, keeping the value its variable already holds (its default); a
// null given for it is still refused by its reader.
inline json::Field defaulted(json::Field field) {
    field.defaulted = true;
    return field;
}

json::Field string_field(std::string_view name, std::string& out);
json::Field optional_string_field(std::string_view name, std::optional<std::string>& out);
json::Field bool_field(std::string_view name, bool& out);
json::Field string_list_field(std::string_view name, std::vector<std::string>& out);
json::Field instant_field(std::string_view name, UtcInstant& out);
json::Field optional_instant_field(std::string_view name, std::optional<UtcInstant>& out);
// Any JSON value, kept as given.
json::Field value_field(std::string_view name, json::Value& out);
// A 64-bit float; integers are accepted and converted.
json::Field optional_f64_field(std::string_view name, std::optional<double>& out);

// A nested record read by `read`.
template <class T>
json::Field record_field(std::string_view name, T& out,
                         Result<T, json::Error> (*read)(json::Deserializer&)) {
    return {name, false, [&out, read](json::Deserializer& de) -> json::Status {
                VOK_ASSIGN(out, read(de));
                return Ok();
            }};
}

template <class T>
json::Field optional_record_field(std::string_view name, std::optional<T>& out,
                                  Result<T, json::Error> (*read)(json::Deserializer&)) {
    return {name, true, [&out, read](json::Deserializer& de) -> json::Status {
                VOK_ASSIGN(T value, read(de));
                out.emplace(std::move(value));
                return Ok();
            }};
}

// A JSON array ("a sequence") whose elements are read by `read`.
template <class T>
Result<std::vector<T>, json::Error> read_list(json::Deserializer& de,
                                              Result<T, json::Error> (*read)(json::Deserializer&)) {
    std::vector<T> out;
    VOK_TRY(json::read_seq(de, "a sequence", [&](json::Deserializer& element) -> json::Status {
        VOK_ASSIGN(T value, read(element));
        out.push_back(std::move(value));
        return Ok();
    }));
    return out;
}

template <class T>
json::Field list_field(std::string_view name, std::vector<T>& out,
                       Result<T, json::Error> (*read)(json::Deserializer&)) {
    return {name, false, [&out, read](json::Deserializer& de) -> json::Status {
                VOK_ASSIGN(out, read_list(de, read));
                return Ok();
            }};
}

Result<std::string, json::Error> read_text(json::Deserializer& de);
// An RFC 3339 date-time string, held in UTC; a text that does not parse fails with the date
// parser's message.
Result<UtcInstant, json::Error> read_instant(json::Deserializer& de);
// A JSON object of text keys and any values; of a key given twice the value given last is kept.
// `expecting` names it when something else is found ("a map").
Result<json::Object, json::Error> read_value_map(json::Deserializer& de,
                                                 std::string_view expecting);

// Reads the whole of `text` with `read`; only white space may follow. The error is the reader's
// message with its position.
template <class T>
Result<T, std::string>
read_authority_document(std::string_view text,
                        Result<T, json::Error> (*read)(json::Deserializer&)) {
    json::TextDeserializer de(text);
    de.count_levels_when_skipping();
    auto value = read(de);
    if (!value.ok()) return Err(value.error().to_string());
    auto finished = de.finish();
    if (!finished.ok()) return Err(finished.error().to_string());
    return std::move(*value);
}

} // namespace vok::authority
