// UUID text arguments; see uuid_arg.h.
#include "python/binding/uuid_arg.h"

namespace vok::python {

PyResult<vok::Uuid> parse_uuid(std::string_view text, std::string_view prefix) {
    auto parsed = vok::Uuid::parse(text);
    if (!parsed.ok()) return Err(value_error(prefix, parsed.error()));
    return parsed.value();
}

} // namespace vok::python
