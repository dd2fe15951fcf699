// Building blocks shared by the readers of the authority records.
//
// The records are read with the JSON library's record reader (`json::read_struct`), which takes a
// table of fields; the common rows of such tables (a text, an optional text, a list of texts, a
// raw JSON value, a nested record) come from json/record_reader.h, and the rows only these records
// have (a date-time) are made here. Every row stores into a variable the caller owns, which must
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
#include "json/record_reader.h"
#include "json/text_deserializer.h"
#include "json/value.h"

namespace vok::authority {

// The common rows come from the JSON record reader; the authority-specific ones follow.
using json::bool_field;
using json::defaulted;
using json::list_field;
using json::optional_f64_field;
using json::optional_record_field;
using json::optional_string_field;
using json::read_list;
using json::record_field;
using json::string_field;
using json::string_list_field;
using json::value_field;

json::Field instant_field(std::string_view name, UtcInstant& out);
json::Field optional_instant_field(std::string_view name, std::optional<UtcInstant>& out);

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
