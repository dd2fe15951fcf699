// Field rows and value readers shared by the authority record readers; see record_fields.h.
#include "authority/record_fields.h"

namespace vok::authority {

using json::Deserializer;
using json::Status;

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
