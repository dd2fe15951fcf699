// Error values and their mapping to exceptions; see error.h.
#include "python/binding/error.h"

#include <optional>

#include "python/binding/messages.h"

namespace vok::python {

namespace {

struct KindEntry {
    ErrorKind kind;
    PyObject* (*exception_class)();
};

// The one table from error kinds to exception classes.
const KindEntry kKinds[] = {
    {ErrorKind::Value, [] { return PyExc_ValueError; }},
    {ErrorKind::Key, [] { return PyExc_KeyError; }},
    {ErrorKind::Runtime, [] { return PyExc_RuntimeError; }},
    {ErrorKind::Type, [] { return PyExc_TypeError; }},
    {ErrorKind::System, [] { return PyExc_SystemError; }},
    {ErrorKind::Import, [] { return PyExc_ImportError; }},
    {ErrorKind::Memory, [] { return PyExc_MemoryError; }},
    {ErrorKind::Panic, &panic_exception_class},
};

// str() of an exception for use in another message, or nothing (with the failure set).
std::optional<std::string> text_of(PyObject* value) {
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text) return std::nullopt;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (data == nullptr) return std::nullopt;
    return std::string(data, std::size_t(size));
}

} // namespace

PyObject* kind_exception_class(ErrorKind kind) {
    for (const KindEntry& entry : kKinds) {
        if (entry.kind == kind) return entry.exception_class();
    }
    return PyExc_SystemError;
}

PyObject* panic_exception_class() {
    // Made once and kept for the life of the process, like the module's class objects.
    static PyObject* panic_class = nullptr;
    if (panic_class == nullptr) {
        panic_class = PyErr_NewExceptionWithDoc(messages::kPanicQualifiedName, messages::kPanicDoc,
                                                PyExc_BaseException, nullptr);
    }
    return panic_class;
}

Error Error::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return Error(ErrorKind::System, std::string(messages::kNoExceptionSet));
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Error error;
    error.type_ = Ref::steal(type);
    error.value_ = Ref::steal(value);
    error.traceback_ = Ref::steal(traceback);
    return error;
}

bool Error::is_exact_type_error() const {
    if (type_) return type_.get() == PyExc_TypeError;
    return kind_ == ErrorKind::Type;
}

std::optional<std::string> Error::message() const {
    if (value_) return text_of(value_.get());
    return message_;
}

Error Error::for_argument(std::string_view parameter) && {
    if (!is_exact_type_error()) return std::move(*this);
    std::optional<std::string> shown = this->message();
    if (!shown) {
        // An exception whose str() fails keeps its own text; an interrupt in that str() wins.
        if (clear_ordinary_exception()) return std::move(*this);
        return fetch();
    }
    std::string message = messages::argument_error(parameter, *shown);
    if (!value_) return type_error(message);

    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), Py_ssize_t(message.size())));
    if (!text) return fetch();
    Ref replacement = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!replacement) return fetch();
    // Raised as if while handling the first error (the argument's own, perhaps raised by the
    // caller's __float__): that is its context, shown with its traceback, and its cause is kept as
    // the new error's. With no cause, nothing is suppressed, and Python shows the first error as
    // the one during whose handling this one occurred. Both setters take over a reference.
    PyException_SetContext(replacement.get(), Ref(value_).release());
    if (PyObject* cause = PyException_GetCause(value_.get())) {
        PyException_SetCause(replacement.get(), cause);
    }
    Error error;
    error.type_ = Ref::borrow(PyExc_TypeError);
    error.value_ = std::move(replacement);
    return error;
}

void Error::restore() && {
    if (type_) {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
        return;
    }
    if (kind_ == ErrorKind::Memory && message_.empty()) {
        PyErr_NoMemory();
        return;
    }
    PyObject* exception_class = kind_exception_class(kind_);
    if (exception_class == nullptr) return; // making the panic class failed and says why
    Ref text =
        Ref::steal(PyUnicode_FromStringAndSize(message_.data(), Py_ssize_t(message_.size())));
    if (!text) return;
    PyErr_SetObject(exception_class, text.get());
}

bool clear_ordinary_exception() {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError))
        return false;
    PyErr_Clear();
    return true;
}

Error value_error(std::string_view message) {
    return Error(ErrorKind::Value, std::string(message));
}

Error value_error(std::string_view prefix, std::string_view detail) {
    std::string message(prefix);
    message += detail;
    return Error(ErrorKind::Value, std::move(message));
}

Error key_error(std::string_view message) {
    return Error(ErrorKind::Key, std::string(message));
}

Error runtime_error(std::string_view message) {
    return Error(ErrorKind::Runtime, std::string(message));
}

Error type_error(std::string_view message) {
    return Error(ErrorKind::Type, std::string(message));
}

Error panic_error(std::string_view message) {
    return Error(ErrorKind::Panic,
                 std::string(message.empty() ? messages::kPanicWithoutMessage : message));
}

Error downcast_error(PyObject* object, std::string_view target) {
    Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!qualname) return Error::fetch();
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(qualname.get(), &size);
    if (data == nullptr) return Error::fetch();
    return type_error(messages::downcast(std::string_view(data, std::size_t(size)), target));
}

} // namespace vok::python
