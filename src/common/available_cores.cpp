#include "common/available_cores.h"

#include <sched.h>

namespace vok {

size_t available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<size_t>(count) : 1;
}

} // namespace vok
