// Field rows and value readers shared by the authority record readers; see record_fields.h.
#include "authority/record_fields.h"

namespace vok::authority {

using json::Deserializer;
using json::Status;

json::Field string_field(std::string_view name, std::string& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, json::read_string(de));
                return Ok();
            }};
}

json::Field optional_string_field(std::string_view name, std::optional<std::string>& out) {
    return {name, true, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(std::string text, json::read_string(de));
                out = std::move(text);
                return Ok();
            }};
}

json::Field bool_field(std::string_view name, bool& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, de.read_bool("a boolean"));
                return Ok();
            }};
}

json::Field string_list_field(std::string_view name, std::vector<std::string>& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read_list(de, &read_text));
                return Ok();
            }};
}

json::Field instant_field(std::string_view name, UtcInstant& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read_instant(de));
                return Ok();
            }};
}

json::Field optional_instant_field(std::string_view name, std::optional<UtcInstant>& out) {
    return {name, true, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(UtcInstant instant, read_instant(de));
                out = instant;
                return Ok();
            }};
}

json::Field value_field(std::string_view name, json::Value& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, de.read_any());
                return Ok();
            }};
}

json::Field optional_f64_field(std::string_view name, std::optional<double>& out) {
    return {name, true, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(json::Value number, de.read_scalar("f64"));
                if (!number.is_number())
                    return Err(
                        de.positioned(json::invalid_type(json::Unexpected::of(number), "f64")));
                out = number.as_number().to_f64();
                return Ok();
            }};
}

Result<std::string, json::Error> read_text(Deserializer& de) {
    return json::read_string(de);
}

Result<UtcInstant, json::Error> read_instant(Deserializer& de) {
    VOK_ASSIGN(std::string text, de.read_string("an RFC 3339 formatted date and time string"));
    auto instant = parse_rfc3339(text);
    if (!instant.ok()) return Err(de.positioned(json::custom_error(std::move(instant).error())));
    return *instant;
}

Result<json::Object, json::Error> read_value_map(Deserializer& de, std::string_view expecting) {
    VOK_TRY(de.begin_map(expecting));
    std::vector<json::Object::Entry> entries;
    Status visited = [&]() -> Status {
        while (true) {
            VOK_ASSIGN(std::optional<std::string> key, de.next_key());
            if (!key) return Ok();
            VOK_ASSIGN(json::Value value, de.read_any());
            entries.emplace_back(std::move(*key), std::move(value));
        }
    }();
    VOK_TRY(de.end(json::Form::Map, std::move(visited)));
    return json::Object::from_entries(std::move(entries));
}

} // namespace vok::authority
