// Making class objects from class specs; see class_spec.h.
//
// The method and getter tables, the qualified name and the generated docstrings are referenced by
// the type object for as long as it lives, which is until the process ends; they are therefore
// allocated once and never freed (not even by static destructors, which run after the
// interpreter's own teardown).
#include <string>
#include <utility>
#include <vector>

#include "python/binding/call_frame.h"
#include "python/binding/class_spec.h"
#include "python/binding/enumeration.h"
#include "python/binding/messages.h"

namespace vok::python {

namespace {

template <class T> T* keep_forever(T value) {
    return new T(std::move(value));
}

const char* keep_text(std::string text) {
    return keep_forever(std::move(text))->c_str();
}

// Every class made so far, for finding a spec from a type object.
std::vector<std::pair<PyTypeObject*, const ClassSpec*>>& made_classes() {
    static auto* classes = new std::vector<std::pair<PyTypeObject*, const ClassSpec*>>();
    return *classes;
}

// __new__ of a class without a constructor.
PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
    return call_frame([&]() -> PyResult<Ref> {
        Ref name = Ref::steal(PyType_GetName(type));
        if (!name) return Err(Error::fetch());
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size);
        if (data == nullptr) return Err(Error::fetch());
        return Err(type_error(messages::no_constructor(std::string_view(data, std::size_t(size)))));
    });
}

// The class docstring: the constructor's text signature in CPython's internal form followed by
// the class's documentation, or the documentation alone, or none.
const char* class_doc(const ClassSpec& spec) {
    if (spec.constructor.signature != nullptr) {
        return keep_text(internal_doc(
            text_signature(*spec.constructor.signature, Receiver::None, spec.name), spec.doc));
    }
    return spec.doc;
}

PyMethodDef* method_table(const ClassSpec& spec) {
    auto* table = new PyMethodDef[spec.methods.size() + 1]();
    for (std::size_t i = 0; i < spec.methods.size(); ++i) {
        const MethodRow& row = spec.methods[i];
        Receiver receiver = (row.flags & METH_STATIC) != 0 ? Receiver::None : Receiver::Self;
        std::string doc = internal_doc(text_signature(*row.signature, receiver), row.doc);
        table[i] = PyMethodDef{keep_text(std::string(row.signature->python_name())), row.entry,
                               row.flags, keep_text(std::move(doc))};
    }
    return table;
}

PyGetSetDef* getter_table(const ClassSpec& spec) {
    auto* table = new PyGetSetDef[spec.getters.size() + 1]();
    for (std::size_t i = 0; i < spec.getters.size(); ++i) {
        const GetterRow& row = spec.getters[i];
        table[i] = PyGetSetDef{row.name, row.entry, nullptr, row.doc, nullptr};
    }
    return table;
}

template <class F> void* slot_pointer(F function) {
    return reinterpret_cast<void*>(function);
}

PyResult<void> add_members(PyTypeObject* type, const ClassSpec& spec) {
    for (std::size_t i = 0; i < spec.members.size(); ++i) {
        VOK_ASSIGN(Ref member, make_instance<EnumValue>(type, EnumValue{std::uint8_t(i)}));
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), spec.members[i],
                                   member.get()) != 0) {
            return Err(Error::fetch());
        }
    }
    return Ok();
}

PyResult<PyTypeObject*> build_class(const ClassSpec& spec) {
    std::vector<PyType_Slot> slots;
    slots.push_back({Py_tp_dealloc, slot_pointer(spec.layout.dealloc)});
    slots.push_back({Py_tp_new, spec.constructor.entry != nullptr
                                    ? slot_pointer(spec.constructor.entry)
                                    : slot_pointer(&refuse_construction)});
    if (const char* doc = class_doc(spec)) slots.push_back({Py_tp_doc, const_cast<char*>(doc)});
    if (!spec.methods.empty()) slots.push_back({Py_tp_methods, method_table(spec)});
    if (!spec.getters.empty()) slots.push_back({Py_tp_getset, getter_table(spec)});
    if (spec.slots.repr) slots.push_back({Py_tp_repr, slot_pointer(spec.slots.repr)});
    if (spec.slots.str) slots.push_back({Py_tp_str, slot_pointer(spec.slots.str)});
    if (spec.slots.richcompare) {
        slots.push_back({Py_tp_richcompare, slot_pointer(spec.slots.richcompare)});
    }
    if (spec.slots.hash) slots.push_back({Py_tp_hash, slot_pointer(spec.slots.hash)});
    if (spec.slots.to_int) slots.push_back({Py_nb_int, slot_pointer(spec.slots.to_int)});
    slots.push_back({0, nullptr});

    // No flags beyond the defaults: in particular not Py_TPFLAGS_BASETYPE.
    PyType_Spec type_spec{keep_text(std::string("builtins.") + spec.name),
                          int(spec.layout.basicsize), 0, Py_TPFLAGS_DEFAULT, slots.data()};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    if (type == nullptr) return Err(Error::fetch());
    made_classes().emplace_back(type, &spec);
    auto members_added = add_members(type, spec);
    if (!members_added.ok()) {
        made_classes().pop_back();
        Py_DECREF(type);
        return Err(std::move(members_added).error());
    }
    return type;
}

} // namespace

PyResult<PyTypeObject*> make_class(const ClassSpec& spec) {
    if (spec.made != nullptr) return spec.made;
    VOK_ASSIGN(PyTypeObject * type, build_class(spec));
    // Code run while building (a collection, a finaliser) could have made the class meanwhile.
    if (spec.made == nullptr) spec.made = type;
    return spec.made;
}

PyResult<PyTypeObject*> class_object(const ClassSpec& spec) {
    auto made = make_class(spec);
    if (made.ok()) return made;
    std::move(made).error().restore();
    PyErr_PrintEx(0);
    return Err(panic_error(messages::class_init_failed(spec.name)));
}

const ClassSpec* spec_of_type(PyTypeObject* type) {
    for (const auto& [made, spec] : made_classes()) {
        if (made == type) return spec;
    }
    return nullptr;
}

PyResult<bool> is_instance(PyObject* object, const ClassSpec& spec) {
    VOK_ASSIGN(PyTypeObject * type, class_object(spec));
    return bool(PyObject_TypeCheck(object, type));
}

} // namespace vok::python
