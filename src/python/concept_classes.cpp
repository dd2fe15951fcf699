// Wrappers of the named-concept classes; see concept_classes.h.
#include "python/concept_classes.h"

#include <string>
#include <string_view>
#include <utility>

#include "common/debug_quote.h"
#include "python/record_members.h"
#include "units/unit_registry.h"

namespace vok::python {

namespace {

using namespace records;

// ---- Entity ----

constexpr Signature kEntityNew{"Entity.__new__", {{"name"}, {"namespace", "None"}}};
constexpr Signature kEntityGetAttribute{"Entity.get_attribute", {{"key"}}};
constexpr Signature kEntitySetAttribute{"Entity.set_attribute", {{"key"}, {"value"}}};

PyResult<Entity> new_entity(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(auto namespace_name, args.optional_text(1));
    return Entity::make(std::move(name), namespace_or_default(namespace_name));
}

PyResult<std::string> entity_repr(const Entity& self) {
    return "Entity(id='" + self.id.to_string() + "', name='" + self.name +
           "', namespace=" + debug_quoted(self.namespace_.view()) + ")";
}

PyResult<std::string> entity_str(const Entity& self) {
    return self.name;
}

const MethodRow kEntityMethods[] = {
    method<kEntityGetAttribute, get_attribute<Entity>>(),
    exclusive_method<kEntitySetAttribute, set_attribute<Entity>>(),
};
const GetterRow kEntityGetters[] = {
    property<uuid_text<Entity, &Entity::id>>("id"),
    property<text<Entity, &Entity::name>>("name"),
    property<visible_namespace<Entity>>("namespace"),
};

// ---- Resource ----

constexpr Signature kResourceNew{"Resource.__new__", {{"name"}, {"unit"}, {"namespace", "None"}}};
constexpr Signature kResourceGetAttribute{"Resource.get_attribute", {{"key"}}};
constexpr Signature kResourceSetAttribute{"Resource.set_attribute", {{"key"}, {"value"}}};

// An unknown unit symbol is not an error: the registry stands in a Count unit of that symbol.
PyResult<Resource> new_resource(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(std::string_view unit_symbol, args.text(1));
    VOK_ASSIGN(auto namespace_name, args.optional_text(2));
    return Resource::make(std::move(name), unit_for_symbol(unit_symbol),
                          namespace_or_default(namespace_name));
}

PyResult<std::string> resource_unit(const Resource& self) {
    return self.unit.symbol;
}

PyResult<std::string> resource_repr(const Resource& self) {
    return "Resource(id='" + self.id.to_string() + "', name='" + self.name + "', unit='" +
           self.unit.symbol + "', namespace=" + debug_quoted(self.namespace_.view()) + ")";
}

PyResult<std::string> resource_str(const Resource& self) {
    return self.name + " (" + self.unit.symbol + ")";
}

const MethodRow kResourceMethods[] = {
    method<kResourceGetAttribute, get_attribute<Resource>>(),
    exclusive_method<kResourceSetAttribute, set_attribute<Resource>>(),
};
const GetterRow kResourceGetters[] = {
    property<uuid_text<Resource, &Resource::id>>("id"),
    property<text<Resource, &Resource::name>>("name"),
    property<resource_unit>("unit"),
    property<visible_namespace<Resource>>("namespace"),
};

// ---- Role ----

constexpr Signature kRoleNew{"Role.__new__", {{"name"}, {"namespace", "None"}}};
constexpr Signature kRoleGetAttribute{"Role.get_attribute", {{"key"}}};
constexpr Signature kRoleSetAttribute{"Role.set_attribute", {{"key"}, {"value"}}};

PyResult<Role> new_role(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(auto namespace_name, args.optional_text(1));
    return Role::make(std::move(name), namespace_or_default(namespace_name));
}

PyResult<std::string> role_repr(const Role& self) {
    return "Role(id='" + self.id.to_string() + "', name='" + self.name +
           "', namespace=" + debug_quoted(self.namespace_.view()) + ")";
}

const MethodRow kRoleMethods[] = {
    method<kRoleGetAttribute, get_attribute<Role>>(),
    exclusive_method<kRoleSetAttribute, set_attribute<Role>>(),
};
const GetterRow kRoleGetters[] = {
    property<uuid_text<Role, &Role::id>>("id"),
    property<text<Role, &Role::name>>("name"),
    property<visible_namespace<Role>>("namespace"),
};

} // namespace

const ClassSpec kEntityClass{
    .name = "Entity",
    .layout = layout_of<Entity>(),
    .constructor = constructor<kEntityNew, new_entity>(),
    .methods = kEntityMethods,
    .getters = kEntityGetters,
    .slots = {.repr = unary_slot<entity_repr>, .str = unary_slot<entity_str>}};

const ClassSpec kResourceClass{
    .name = "Resource",
    .layout = layout_of<Resource>(),
    .constructor = constructor<kResourceNew, new_resource>(),
    .methods = kResourceMethods,
    .getters = kResourceGetters,
    .slots = {.repr = unary_slot<resource_repr>, .str = unary_slot<resource_str>}};

const ClassSpec kRoleClass{.name = "Role",
                           .layout = layout_of<Role>(),
                           .constructor = constructor<kRoleNew, new_role>(),
                           .methods = kRoleMethods,
                           .getters = kRoleGetters,
                           .slots = {.repr = unary_slot<role_repr>}};
} // namespace vok::python
