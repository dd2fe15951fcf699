// The module function diff_packs(old_json, new_json): the diff report of two pack documents as
// JSON text. An unreadable document is a ValueError "Invalid old pack JSON: ..." or "Invalid new
// pack JSON: ..."; the old one is read first.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kDiffPacks;

} // namespace vok::python
