// Wrappers of the namespace registry classes; see namespace_registry_class.h.
#include "python/namespace_registry_class.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_match/path_text.h"
#include "python/binding/binding.h"
#include "python/core_errors.h"

namespace vok::python {

namespace {

using registry::NamespaceBinding;
using registry::NamespaceRegistry;

constexpr Signature kDiscover{"NamespaceRegistry.discover", {{"path"}}};
constexpr Signature kFromFile{"NamespaceRegistry.from_file", {{"path"}}};
// `fail_on_ambiguity` has no default although it accepts None: callers must say what they want.
constexpr Signature kNamespaceFor{"NamespaceRegistry.namespace_for",
                                  {{"path"}, {"fail_on_ambiguity"}}};
constexpr Signature kResolveFiles{"NamespaceRegistry.resolve_files", {{"fail_on_ambiguity"}}};

// None stands for "not asked", which the registry reads as False.
PyResult<bool> fail_on_ambiguity(Args& args, std::size_t i) {
    VOK_ASSIGN(std::optional<bool> flag, args.optional_flag(i));
    return flag.value_or(false);
}

// The registry's messages are complete sentences of their own; no prefix is put before them.
PyResult<std::optional<NamespaceRegistry>> discover(Args& args) {
    VOK_ASSIGN(std::string_view path, args.text(0));
    return core_result(NamespaceRegistry::discover(path));
}

PyResult<NamespaceRegistry> from_file(Args& args) {
    VOK_ASSIGN(std::string_view path, args.text(0));
    return core_result(NamespaceRegistry::from_file(path));
}

PyResult<std::string> namespace_for(const NamespaceRegistry& self, Args& args) {
    VOK_ASSIGN(std::string_view path, args.text(0));
    VOK_ASSIGN(bool fail, fail_on_ambiguity(args, 1));
    return core_result(self.namespace_for(path, fail));
}

PyResult<std::vector<NamespaceBinding>> resolve_files(const NamespaceRegistry& self, Args& args) {
    VOK_ASSIGN(bool fail, fail_on_ambiguity(args, 0));
    return core_result(self.resolve_files(fail));
}

PyResult<std::string> root(const NamespaceRegistry& self) {
    return self.root_text();
}

PyResult<std::string> default_namespace(const NamespaceRegistry& self) {
    return self.default_namespace();
}

// File names are bytes; Python sees them as text with invalid sequences replaced.
PyResult<std::string> binding_path(const NamespaceBinding& self) {
    return file_match::lossy_utf8(self.path);
}

PyResult<std::string> binding_namespace(const NamespaceBinding& self) {
    return self.namespace_name;
}

const MethodRow kRegistryMethods[] = {
    static_method<kDiscover, discover>(),
    static_method<kFromFile, from_file>(),
    method<kNamespaceFor, namespace_for>(),
    method<kResolveFiles, resolve_files>(),
};

const GetterRow kRegistryGetters[] = {
    property<root>("root"),
    property<default_namespace>("default_namespace"),
};

const GetterRow kBindingGetters[] = {
    property<binding_path>("path"),
    property<binding_namespace>("namespace"),
};

} // namespace

const ClassSpec kNamespaceRegistryClass{.name = "NamespaceRegistry",
                                        .doc = nullptr,
                                        .layout = layout_of<NamespaceRegistry>(),
                                        .methods = kRegistryMethods,
                                        .getters = kRegistryGetters};

const ClassSpec kNamespaceBindingClass{.name = "NamespaceBinding",
                                       .doc = nullptr,
                                       .layout = layout_of<NamespaceBinding>(),
                                       .getters = kBindingGetters};

} // namespace vok::python
