// The vok_dsl extension module: its one exported entry and the module body.
//
// The module uses single-phase initialisation and supports one interpreter per process: the
// interpreter that first imports it is remembered, and any other one is refused with ImportError,
// because the class objects and the module object are process-wide and must never be shared
// between interpreters. In that first interpreter, importing again (after the module was removed
// from sys.modules) returns the module object made the first time; the body never runs twice.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "common/deep_recursion.h"
#include "common/invariant.h"
#include "common/thread_preparation.h"
#include "python/binding/binding.h"
#include "python/registration.h"

namespace vok::python {

namespace {

// VOK_VERSION is the project version of the build (CMakeLists.txt); it is not written here.
constexpr const char* kVersion = VOK_VERSION;

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "vok_dsl", // m_name
    "",        // m_doc
    0,         // m_size
    nullptr,   // m_methods: the body adds the functions
    nullptr,   // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

// The id of the interpreter that first initialised the module; -1 until then.
std::atomic<std::int64_t> interpreter_cell{-1};
// The module made by the first successful initialisation; a strong reference kept for the life
// of the process (never cleared, not even at exit).
PyObject* module_cell = nullptr;

// Appends `name` to the module's __all__ (made on first use) and sets the attribute.
PyResult<void> add_name(PyObject* module, std::string_view name, const Ref& value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Err(Error::fetch());
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all) return Err(Error::fetch());
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return Err(Error::fetch());
    }
    if (!PyList_Check(all.get())) return Err(downcast_error(all.get(), messages::kListTarget));
    VOK_ASSIGN(Ref key, str_to_python(name));
    if (PyList_Append(all.get(), key.get()) != 0) return Err(Error::fetch());
    if (PyObject_SetAttr(module, key.get(), value.get()) != 0) return Err(Error::fetch());
    return Ok();
}

PyResult<void> add_entry(PyObject* module, const Registration& entry) {
    if (entry.kind == Registration::Kind::Class) {
        if (entry.class_spec == nullptr) return Ok();
        VOK_INVARIANT(std::string_view(entry.class_spec->name) == entry.name,
                      std::string("registration entry ") + entry.name + " holds another class");
        VOK_ASSIGN(PyTypeObject * type, make_class(*entry.class_spec));
        return add_name(module, entry.name, Ref::borrow(reinterpret_cast<PyObject*>(type)));
    }
    if (entry.function == nullptr) return Ok();
    VOK_ASSIGN(Ref function, make_function(module, *entry.function));
    Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return Err(Error::fetch());
    VOK_ASSIGN(std::string_view text, text_from(name.get()));
    VOK_INVARIANT(text == entry.name,
                  std::string("registration entry ") + entry.name + " holds another function");
    return add_name(module, text, function);
}

PyResult<void> run_body(PyObject* module) {
    VOK_ASSIGN(Ref version, str_to_python(kVersion));
    VOK_TRY(add_name(module, "__version__", version));
    for (const Registration& entry : registrations())
        VOK_TRY(add_entry(module, entry));
    return Ok();
}

PyResult<Ref> initialise() {
    std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return Err(Error::fetch());
    std::int64_t expected = -1;
    if (!interpreter_cell.compare_exchange_strong(expected, id) && expected != id) {
        return Err(Error(ErrorKind::Import, std::string(messages::kSubinterpreters)));
    }
    if (module_cell != nullptr) return Ref::borrow(module_cell);

    Ref module = Ref::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) return Err(Error::fetch());
    // On failure the new module is released and the cell stays empty, so a later import starts
    // afresh.
    VOK_TRY(run_body(module.get()));
    module_cell = Ref(module).release();
    return module;
}

} // namespace

} // namespace vok::python

PyMODINIT_FUNC PyInit_vok_dsl() {
    // On the caller's own stack, before the frame may move to a segment; the frame reports a
    // thread whose storage cannot be had.
    if (vok::prepare_thread()) vok::deep_recursion_detail::map_main_stack_ahead();
    return vok::python::call_frame([] { return vok::python::initialise(); });
}
