// Concept ids: the identity of every declared thing of the model.
//
// An id is a pure function of a namespace and a name (a name-based version 5 UUID under the DNS
// namespace, over the text namespace + "::" + name), so the same declaration gets the same id in
// every run and every process, and two files that declare one name in one namespace mean one
// concept. Nothing is trimmed or case-folded: "Warehouse" and "warehouse" are different concepts.
#pragma once

#include <string_view>

#include "uuid/uuid.h"

namespace vok {

Uuid concept_id_for(std::string_view namespace_name, std::string_view name);

} // namespace vok
