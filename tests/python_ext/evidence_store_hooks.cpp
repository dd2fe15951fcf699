// Hooks on the evidence store of a vok_dsl.AuthorityEnvironment, which Python cannot otherwise
// reach: poison_evidence_store(environment) marks the store unusable, as an exception escaping
// while its lock is held does; evidence_store_size(environment) counts the traces it keeps.
//
// This module is a separate extension with its own copy of the class tables, so it recognises the
// object by vok_dsl's class object and reads the value through the shared instance layout (both
// modules are built from the same sources).
#include <Python.h>

#include <cstdint>

#include "authority/environment.h"
#include "hook_functions.h"
#include "python/binding/binding.h"

namespace hooks {

namespace {

using namespace vok::python;
using vok::authority::AuthorityEnvironment;

constexpr Signature kPoison{"poison_evidence_store", {{"environment"}}};
constexpr Signature kSize{"evidence_store_size", {{"environment"}}};

// The environment inside `object`. No Python code runs while a hook uses it, so no borrow is
// taken.
PyResult<const AuthorityEnvironment*> environment_of(PyObject* object) {
    Ref module = Ref::steal(PyImport_ImportModule("vok_dsl"));
    if (!module) return vok::Err(Error::fetch());
    Ref type = Ref::steal(PyObject_GetAttrString(module.get(), "AuthorityEnvironment"));
    if (!type) return vok::Err(Error::fetch());
    if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type.get())))
        return vok::Err(type_error("expected an AuthorityEnvironment"));
    return &instance_of<AuthorityEnvironment>(object)->value();
}

PyResult<void> poison_evidence_store(Args& args) {
    VOK_ASSIGN(const AuthorityEnvironment* environment, environment_of(args.raw(0)));
    environment->evidence_store().poison();
    return {};
}

PyResult<uint64_t> evidence_store_size(Args& args) {
    VOK_ASSIGN(const AuthorityEnvironment* environment, environment_of(args.raw(0)));
    return static_cast<uint64_t>(environment->evidence_store().size());
}

const FunctionRow kPoisonRow = function<kPoison, poison_evidence_store>();
const FunctionRow kSizeRow = function<kSize, evidence_store_size>();

const HookFunctions kRegistered{&kPoisonRow, &kSizeRow};

} // namespace

} // namespace hooks
