// The borrow rule of object bodies; see object_body.h.
#include "python/binding/object_body.h"

#include "python/binding/messages.h"

namespace vok::python {

PyResult<BorrowGuard<Access::Shared>> borrow_shared(PyObject* object) {
    std::atomic<Py_ssize_t>& flag = header_of(object)->borrow_flag;
    Py_ssize_t seen = flag.load();
    do {
        if (seen == -1) return Err(runtime_error(messages::kAlreadyMutablyBorrowed));
    } while (!flag.compare_exchange_weak(seen, seen + 1));
    return BorrowGuard<Access::Shared>(header_of(object));
}

PyResult<BorrowGuard<Access::Exclusive>> borrow_exclusive(PyObject* object) {
    Py_ssize_t expected = 0;
    if (!header_of(object)->borrow_flag.compare_exchange_strong(expected, -1)) {
        return Err(runtime_error(messages::kAlreadyBorrowed));
    }
    return BorrowGuard<Access::Exclusive>(header_of(object));
}

} // namespace vok::python
