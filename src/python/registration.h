// The registration table: what the module body adds to vok_dsl, in order.
//
// The table has one entry for each of the module's 40 classes and 12 functions, at its fixed
// position. An entry whose class or function does not exist yet is null and skipped; switching an
// entry on is giving it its ClassSpec or FunctionRow, nothing else.
#pragma once

#include <span>

#include "python/binding/class_spec.h"
#include "python/binding/rows.h"

namespace vok::python {

struct Registration {
    enum class Kind { Class, Function };
    Kind kind;
    const char* name;
    const ClassSpec* class_spec = nullptr;
    const FunctionRow* function = nullptr;
};

std::span<const Registration> registrations();

} // namespace vok::python
