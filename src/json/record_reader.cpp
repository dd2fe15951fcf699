// The common field rows of the record reader; see record_reader.h.
#include "json/record_reader.h"

namespace vok::json {

Field string_field(std::string_view name, std::string& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read_string(de));
                return Ok();
            }};
}

Field optional_string_field(std::string_view name, std::optional<std::string>& out) {
    return {name, true, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(std::string text, read_string(de));
                out = std::move(text);
                return Ok();
            }};
}

Field bool_field(std::string_view name, bool& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, de.read_bool("a boolean"));
                return Ok();
            }};
}

Field string_list_field(std::string_view name, std::vector<std::string>& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, read_list(de, &read_string));
                return Ok();
            }};
}

Field value_field(std::string_view name, Value& out) {
    return {name, false, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(out, de.read_any());
                return Ok();
            }};
}

Field optional_f64_field(std::string_view name, std::optional<double>& out) {
    return {name, true, [&out](Deserializer& de) -> Status {
                VOK_ASSIGN(Value number, de.read_scalar("f64"));
                if (!number.is_number())
                    return Err(de.positioned(invalid_type(Unexpected::of(number), "f64")));
                out = number.as_number().to_f64();
                return Ok();
            }};
}

} // namespace vok::json
