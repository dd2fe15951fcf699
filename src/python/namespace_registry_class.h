// The Python classes NamespaceRegistry and NamespaceBinding.
//
// Both wrap the registry core as it is: a NamespaceRegistry object owns a loaded registry (which
// is immutable, so every call borrows it shared), and a NamespaceBinding object owns one entry of
// a resolve_files listing. Neither class has a constructor; registries come only from the static
// methods `discover` and `from_file`, bindings only from `resolve_files`. Every RegistryError
// reaches Python as a RuntimeError carrying the registry's own message, with no prefix.
#pragma once

#include "python/binding/class_spec.h"
#include "registry/namespace_binding.h"
#include "registry/namespace_registry.h"

namespace vok::python {

extern const ClassSpec kNamespaceRegistryClass;
extern const ClassSpec kNamespaceBindingClass;

} // namespace vok::python

VOK_PY_CLASS(vok::registry::NamespaceRegistry, vok::python::kNamespaceRegistryClass);
VOK_PY_CLASS(vok::registry::NamespaceBinding, vok::python::kNamespaceBindingClass);
