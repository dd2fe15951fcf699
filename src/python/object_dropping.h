// Dropping many Python objects without holding up the caller's answer to Ctrl-C.
//
// A conversion stopped part-way holds what it had made (the lists and dicts of a value read back,
// the copy of a large list being read): millions of objects, whose freeing takes a good part of
// a second, in place and with the interpreter lock held. As common/dropping.h does for the
// core's values, such objects go to a thread of their own. Python objects may only be touched
// with the interpreter lock, so that thread takes it, in turns of about a millisecond between
// which the other threads run: the caller gets its exception at once, and the freeing is spread
// over the next few moments instead of stalling them. A list or dict that nothing else refers to
// is taken apart element by element, so no one turn frees a large value whole.
//
// At interpreter shutdown the thread stops at its next turn, as Python's own daemon threads do,
// and what it still held is never freed. Under a memory cap (memory_capped), or where no thread
// can be started, the objects are dropped in place.
#pragma once

#include <Python.h>

#include <vector>

namespace vok::python {

// Drops the references in `owned` (each a reference of the caller's, given up here; `owned` is
// left empty). Called with the interpreter lock held.
void drop_objects_elsewhere(std::vector<PyObject*>& owned) noexcept;

} // namespace vok::python
