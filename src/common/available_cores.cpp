#include "common/available_cores.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vok {

namespace {

bool capped(int resource) {
    rlimit limit{};
    return getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY;
}

// Strict overcommit ("2"): an allocation fails once the system's commit limit is reached.
// Read without allocating, and each time: the setting may change while the process runs.
bool strict_overcommit() {
    const int file = open("/proc/sys/vm/overcommit_memory", O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    char mode = 0;
    const ssize_t read_bytes = read(file, &mode, 1);
    close(file);
    return read_bytes == 1 && mode == '2';
}

} // namespace

size_t available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<size_t>(count) : 1;
}

bool memory_capped() {
    return capped(RLIMIT_AS) || capped(RLIMIT_DATA) || strict_overcommit();
}

size_t cores_for_workers() {
    static constexpr size_t kFewestCores = 3;
    const size_t cores = available_cores();
    if (cores < kFewestCores || memory_capped()) return 1;
    return cores;
}

} // namespace vok
