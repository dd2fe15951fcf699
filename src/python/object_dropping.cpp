// Dropping many Python objects on a thread of their own; see object_dropping.h.
#include "python/object_dropping.h"

#include <pthread.h>

#include <chrono>
#include <cstddef>
#include <utility>

#include "common/available_cores.h"

namespace vok::python {

namespace {

// How long the thread holds the interpreter lock at a time: short beside the interpreter's own
// switch interval (5 ms), so that the caller's thread, which asks for the lock once per interval,
// runs most of the time.
constexpr auto kTurn = std::chrono::milliseconds(1);
// A dict of more members than this is taken apart rather than freed whole in one turn.
constexpr Py_ssize_t kLargeDict = 64;

struct Dropping {
    PyThreadState* state;
    std::vector<PyObject*> pending;
};

void drop_here(std::vector<PyObject*>& owned) noexcept {
    for (PyObject* object : owned)
        Py_DECREF(object);
    owned.clear();
}

// Drops `object`, a reference of `pending`'s: a list or a large dict that nothing else refers to
// gives its elements to `pending` first, so that they are dropped one at a time.
void drop_one(PyObject* object, std::vector<PyObject*>& pending) {
    if (Py_REFCNT(object) == 1 && PyList_CheckExact(object)) {
        const Py_ssize_t size = PyList_GET_SIZE(object);
        PyObject** const items = reinterpret_cast<PyListObject*>(object)->ob_item;
        try {
            pending.reserve(pending.size() + std::size_t(size));
            // Last first, so that the list's elements are dropped in order.
            for (Py_ssize_t at = size; at-- > 0;) {
                if (items[at] != nullptr) pending.push_back(std::exchange(items[at], nullptr));
            }
        } catch (...) {
            // Without room to list them, the list drops the elements it still holds.
        }
    } else if (Py_REFCNT(object) == 1 && PyDict_CheckExact(object) &&
               PyDict_GET_SIZE(object) > kLargeDict) {
        try {
            pending.reserve(pending.size() + std::size_t(PyDict_GET_SIZE(object)));
            Py_ssize_t position = 0;
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            while (PyDict_Next(object, &position, &key, &value))
                pending.push_back(Py_NewRef(value));
        } catch (...) {
        }
    }
    Py_DECREF(object);
}

// The thread's body. A plain function with nothing to destroy on the way out: when the
// interpreter is shutting down, taking the lock ends the thread where it stands.
extern "C" void* run_dropping(void* argument) {
    auto* dropping = static_cast<Dropping*>(argument);
    PyEval_RestoreThread(dropping->state);
    dropping->state->thread_id = PyThread_get_thread_ident();
    auto turn_start = std::chrono::steady_clock::now();
    std::size_t dropped = 0;
    while (!dropping->pending.empty()) {
        PyObject* object = dropping->pending.back();
        dropping->pending.pop_back();
        drop_one(object, dropping->pending);
        if (++dropped % 256 == 0 && std::chrono::steady_clock::now() - turn_start > kTurn) {
            PyEval_SaveThread();
            PyEval_RestoreThread(dropping->state);
            turn_start = std::chrono::steady_clock::now();
        }
    }
    PyThreadState_Clear(dropping->state);
    delete dropping;
    PyThreadState_DeleteCurrent();
    return nullptr;
}

} // namespace

void drop_objects_elsewhere(std::vector<PyObject*>& owned) noexcept {
    if (owned.empty()) return;
    if (memory_capped()) return drop_here(owned);
    Dropping* dropping = nullptr;
    try {
        dropping = new Dropping{nullptr, std::move(owned)};
    } catch (...) {
        return drop_here(owned);
    }
    owned.clear();
    dropping->state = PyThreadState_New(PyThreadState_Get()->interp);
    pthread_attr_t attributes;
    bool started = false;
    if (dropping->state != nullptr && pthread_attr_init(&attributes) == 0) {
        pthread_t thread;
        started = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                  pthread_create(&thread, &attributes, run_dropping, dropping) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (started) return;
    if (dropping->state != nullptr) {
        PyThreadState_Clear(dropping->state);
        PyThreadState_Delete(dropping->state);
    }
    drop_here(dropping->pending);
    delete dropping;
}

} // namespace vok::python
