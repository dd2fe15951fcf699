// Builtin function objects from function rows; see function.h.
#include "python/binding/function.h"

#include <string>

namespace vok::python {

PyResult<Ref> make_function(PyObject* module, const FunctionRow& row) {
    // The definition is referenced by the function object for the life of the process.
    auto* name = new std::string(row.signature->python_name());
    auto* doc =
        new std::string(internal_doc(text_signature(*row.signature, Receiver::None), row.doc));
    auto* definition =
        new PyMethodDef{name->c_str(), row.entry, METH_FASTCALL | METH_KEYWORDS, doc->c_str()};
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return Err(Error::fetch());
    Ref function = Ref::steal(PyCFunction_NewEx(definition, module, module_name.get()));
    if (!function) return Err(Error::fetch());
    return function;
}

} // namespace vok::python
