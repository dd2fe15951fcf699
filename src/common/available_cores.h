// How many cores this process may run on: the most worker threads worth starting beside it.
#pragma once

#include <cstddef>

namespace vok {

// The CPUs of the process's affinity mask (at least 1).
size_t available_cores();

} // namespace vok
