// The registration table: what the module body adds to vok_dsl, in order.
//
// The table has one entry for each of the module's 40 classes and 12 functions, at its fixed
// position, each pointing at the ClassSpec or FunctionRow that the class's or function's own file
// defines. What a class needs beyond its table (enumeration members, the Graph methods assembled
// from several files) is that file's business; the module body only adds what the entries name.
// The body skips an entry left null, which none is.
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
