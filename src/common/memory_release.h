// Handing freed memory back to the system.
//
// glibc's malloc keeps what a program frees for its next requests: the many small blocks of a
// large model (expression nodes, strings, records), freed together, leave hundreds of megabytes
// resident, in the calling thread's arena and in the arenas of the workers that built them, until
// malloc_trim walks the free lists and returns the pages. That walk is worth its cost only after a
// large release, so the few places that free that much at once (a large graph dropped, a large
// parse that fails or is interrupted) decide for themselves whether to ask.
#pragma once

#include <cstddef>

namespace vok {

// Asks malloc to return the free pages of every arena to the system; nothing where the C library
// has no such request.
void release_free_memory() noexcept;

// The same in two halves, for a release that a thread of the caller's carries out: counted when
// the caller asks for it, so that the count tells what a call asked for by the time it returned,
// and the walk itself done on that thread.
void count_free_memory_release() noexcept;
void trim_free_memory() noexcept;

// How many releases have been asked for in this process (for tests).
size_t free_memory_releases() noexcept;

} // namespace vok
