// Module functions that files of _vok_testhooks other than testhooks.cpp contribute.
//
// A file declares its rows and registers them with one static HookFunctions object; the module
// adds them after its own functions when it is imported. The list lives in a function-local static
// so that registration does not depend on the order in which the files' statics are initialised.
#pragma once

#include <initializer_list>
#include <vector>

#include "python/binding/rows.h"

namespace hooks {

inline std::vector<const vok::python::FunctionRow*>& extra_functions() {
    static std::vector<const vok::python::FunctionRow*> rows;
    return rows;
}

struct HookFunctions {
    HookFunctions(std::initializer_list<const vok::python::FunctionRow*> rows) {
        extra_functions().insert(extra_functions().end(), rows.begin(), rows.end());
    }
};

} // namespace hooks
