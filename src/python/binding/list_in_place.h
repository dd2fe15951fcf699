// A list made at its full length and filled in place, from its first slot on.
#pragma once

#include <Python.h>

namespace vok::python {

// Guards a list made by PyList_New while code that may run Python code, fail or stop fills it in
// place from its first slot, counting the slots filled in `filled`:
// - when asked, the collector does not track the list until it is whole, so that Python code run
//   meanwhile cannot reach its empty slots, even through gc.get_objects();
// - a list the guard leaves before it is whole is cut to the slots filled, ready to be dropped.
//   Its array comes zeroed from calloc, whose pages no slot was written to are not mapped yet;
//   freeing the list reads every slot up to its length, which would fault in those pages one by
//   one: for the unfilled part of a list of millions of slots, longer than the rest of a stop.
class ListInPlace {
public:
    ListInPlace(PyObject* list, const Py_ssize_t& filled, bool untracked) noexcept
        : list_(list), filled_(&filled), untracked_(untracked) {
        if (untracked_) PyObject_GC_UnTrack(list_);
    }
    ListInPlace(const ListInPlace&) = delete;
    ListInPlace& operator=(const ListInPlace&) = delete;
    ~ListInPlace() {
        if (list_ != nullptr) cut(list_, *filled_);
    }

    // Every slot is filled: the list is tracked again (if it was untracked) and left whole.
    void whole() noexcept {
        if (untracked_) PyObject_GC_Track(list_);
        list_ = nullptr;
    }

    // Cuts `list`, which only its maker holds, to its first `filled` slots.
    static void cut(PyObject* list, Py_ssize_t filled) noexcept {
        Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list), filled);
    }

private:
    PyObject* list_;
    const Py_ssize_t* filled_;
    bool untracked_;
};

} // namespace vok::python
