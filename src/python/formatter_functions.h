// The module functions format_source and check_format.
//
// Both bind their arguments, run the formatter core and hand back its text or verdict. A source
// that does not parse is a ValueError carrying the formatter's "Parse error: " text; a layout too
// large to hold (an absurd indent_width) is a MemoryError, raised before anything that large is
// allocated.
#pragma once

#include "python/binding/rows.h"

namespace vok::python {

extern const FunctionRow kFormatSource;
extern const FunctionRow kCheckFormat;

} // namespace vok::python
