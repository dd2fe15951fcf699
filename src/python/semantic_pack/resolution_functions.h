// The module functions of lookup keys and concept resolution: `normalize_lookup_key(text)` returns
// the lookup key of a text, and `resolve_concept(raw_text, pack_json, options_json)` the
// resolution of free text against a pack as JSON text. The options are read (and a bad options
// text refused) but change nothing; the pack is read first.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kNormalizeLookupKey;
extern const FunctionRow kResolveConcept;

} // namespace vok::python
