// How many cores this process may run on, and whether worker threads may run there at all.
#pragma once

#include <cstddef>

namespace vok {

// The CPUs of the process's affinity mask (at least 1).
size_t available_cores();

// Whether an allocation may fail here while memory remains on the machine: the address space or
// the data segment is capped (setrlimit, ulimit -v) or the system commits no more memory than it
// has. A thread started then may end the process (see cores_for_workers).
bool memory_capped();

// The cores worth running threads on side by side, the calling thread's included: those of the
// affinity mask, or 1 (no workers) on fewer than three cores or where an allocation may fail.
//
// On two cores, one worker beside the calling thread saves about what handing its work over
// costs, and less on files of short declarations (bench/workers.py).
//
// A thread's first use of the thread-local storage of a module loaded at run time (this module's,
// or the C++ runtime's exception state) allocates it, and when that allocation fails the C
// library ends the process: no code can catch it. Where memory_capped(), the calling thread does
// all the work, and running out of memory is a bad_alloc it can report.
size_t cores_for_workers();

} // namespace vok
