// Argument binding: positional arguments first, then keywords, then the check for missing
// required parameters, each step failing with its own TypeError text (messages.h).
#include "python/binding/bind.h"

#include <string>
#include <vector>

#include "python/binding/messages.h"

namespace vok::python {

namespace {

// The keyword's text for matching and for messages. A keyword that is not valid UTF-8 text (lone
// surrogates) can match no parameter; its text is shown with backslash escapes. Running out of
// memory on the way is the call's failure.
PyResult<std::string> keyword_text(PyObject* keyword) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(keyword, &size))
        return std::string(data, std::size_t(size));
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return Err(Error::fetch());
    PyErr_Clear();
    Ref escaped = Ref::steal(PyUnicode_AsEncodedString(keyword, "utf-8", "backslashreplace"));
    if (!escaped) return Err(Error::fetch());
    return std::string(PyBytes_AS_STRING(escaped.get()));
}

PyResult<void> bind_positional(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                               BoundSlots& slots) {
    std::size_t given = std::size_t(nargs);
    if (given > signature.size()) {
        return Err(type_error(messages::too_many_positional(
            signature.display_name, signature.required(), signature.size(), given)));
    }
    for (std::size_t i = 0; i < given; ++i)
        slots[i] = args[i];
    return Ok();
}

PyResult<void> bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value,
                            BoundSlots& slots) {
    VOK_ASSIGN(std::string name, keyword_text(keyword));
    for (std::size_t i = 0; i < signature.size(); ++i) {
        if (name != signature.params[i].name) continue;
        if (slots[i] != nullptr) {
            return Err(type_error(messages::multiple_values(signature.display_name, name)));
        }
        slots[i] = value;
        return Ok();
    }
    return Err(type_error(messages::unexpected_keyword(signature.display_name, name)));
}

PyResult<void> check_required(const Signature& signature, const BoundSlots& slots) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature.required(); ++i) {
        if (slots[i] == nullptr) missing.emplace_back(signature.params[i].name);
    }
    if (missing.empty()) return Ok();
    return Err(type_error(messages::missing_required(signature.display_name, missing)));
}

} // namespace

PyResult<void> bind_fastcall(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, BoundSlots& slots) {
    slots.fill(nullptr);
    VOK_TRY(bind_positional(signature, args, nargs, slots));
    Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        VOK_TRY(bind_keyword(signature, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots));
    }
    return check_required(signature, slots);
}

PyResult<void> bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs,
                          BoundSlots& slots) {
    slots.fill(nullptr);
    VOK_TRY(bind_positional(signature, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots));
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            VOK_TRY(bind_keyword(signature, keyword, value, slots));
        }
    }
    return check_required(signature, slots);
}

} // namespace vok::python
