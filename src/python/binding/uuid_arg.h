// UUID text arguments.
//
// Id parameters are text parameters whose text is then parsed as a UUID. The parse is a separate
// step from converting the text, because every argument is converted (and a wrong Python type
// reported) before any UUID is parsed. A text that does not parse is a ValueError: the prefix
// ("Invalid UUID: " unless the operation names the argument, as in "Invalid from_id UUID: ")
// followed by the parser's description.
#pragma once

#include <string_view>

#include "python/binding/error.h"
#include "python/binding/messages.h"
#include "uuid/uuid.h"

namespace vok::python {

PyResult<vok::Uuid> parse_uuid(std::string_view text,
                               std::string_view prefix = messages::kInvalidUuid);

} // namespace vok::python
