// Wrappers of the graph record classes; see record_classes.h.
//
// Getters shared by several classes are templates over the record's member, so each class table
// lists what it shows rather than a hand-written function per field.
#include "python/record_classes.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decimal/decimal.h"
#include "primitives/target_format.h"
#include "python/binding/binding.h"
#include "python/json_conversion.h"
#include "units/unit_registry.h"
#include "common/debug_quote.h"

namespace vok::python {

namespace {

// vok::python::Instance is the body of every Python object; the record is named apart from it.
using EntityInstance = vok::Instance;

constexpr std::string_view kDefaultNamespace = "default";

std::string namespace_or_default(std::optional<std::string_view> given) {
    return std::string(given.value_or(kDefaultNamespace));
}

// ---- Getters shared by the family ----

template <class T, Uuid T::*Field> PyResult<std::string> uuid_text(const T& self) {
    return (self.*Field).to_string();
}

template <class T, std::string T::*Field> PyResult<std::string> text(const T& self) {
    return self.*Field;
}

// The stored namespace, with "default" shown as None.
template <class T> PyResult<std::optional<std::string>> visible_namespace(const T& self) {
    if (self.namespace_ == kDefaultNamespace) return std::optional<std::string>();
    return std::optional<std::string>(self.namespace_);
}

template <class T> PyResult<std::string> target_format(const T& self) {
    return std::string(display_name_of(self.target_format));
}

// ---- Open attributes and fields ----

template <class T, json::Object T::*Map, std::string (*NotFound)(std::string_view)>
PyResult<Ref> get_open_value(const T& self, Args& args) {
    VOK_ASSIGN(std::string_view key, args.text(0));
    const json::Value* found = (self.*Map).find(key);
    if (found == nullptr) return Err(key_error(NotFound(key)));
    return value_to_python(*found);
}

// The value is converted in full before the map is touched, so a refused value (or one whose
// conversion runs Python code that fails) leaves the map as it was.
template <class T, json::Object T::*Map> PyResult<void> set_open_value(T& self, Args& args) {
    VOK_ASSIGN(std::string key, args.owned_text(0));
    VOK_ASSIGN(json::Value value, value_from_python(args.raw(1)));
    (self.*Map).insert_or_assign(std::move(key), std::move(value));
    return Ok();
}

template <class T>
constexpr auto get_attribute = &get_open_value<T, &T::attributes, messages::attribute_not_found>;
template <class T> constexpr auto set_attribute = &set_open_value<T, &T::attributes>;

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
           "', namespace=" + debug_quoted(self.namespace_) + ")";
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
           self.unit.symbol + "', namespace=" + debug_quoted(self.namespace_) + ")";
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

// ---- Flow ----

constexpr Signature kFlowNew{"Flow.__new__",
                             {{"resource_id"}, {"from_id"}, {"to_id"}, {"quantity"}}};
constexpr Signature kFlowGetAttribute{"Flow.get_attribute", {{"key"}}};
constexpr Signature kFlowSetAttribute{"Flow.set_attribute", {{"key"}, {"value"}}};

// Every argument is converted before any id is parsed, and the ids before the quantity is
// checked, so the first fault in that order is the one reported.
PyResult<Flow> new_flow(Args& args) {
    VOK_ASSIGN(std::string_view resource_text, args.text(0));
    VOK_ASSIGN(std::string_view from_text, args.text(1));
    VOK_ASSIGN(std::string_view to_text, args.text(2));
    VOK_ASSIGN(double quantity, args.number(3));
    VOK_ASSIGN(Uuid resource_id, parse_uuid(resource_text, messages::kInvalidResourceIdUuid));
    VOK_ASSIGN(Uuid from_id, parse_uuid(from_text, messages::kInvalidFromIdUuid));
    VOK_ASSIGN(Uuid to_id, parse_uuid(to_text, messages::kInvalidToIdUuid));
    std::optional<Decimal> exact = Decimal::from_f64(quantity);
    if (!exact) return Err(value_error(messages::kInvalidQuantity));
    return Flow::make(resource_id, from_id, to_id, *exact);
}

PyResult<double> flow_quantity(const Flow& self) {
    return self.quantity.to_f64();
}

PyResult<std::string> flow_repr(const Flow& self) {
    return "Flow(id='" + self.id.to_string() + "', resource_id='" + self.resource_id.to_string() +
           "', from_id='" + self.from_id.to_string() + "', to_id='" + self.to_id.to_string() +
           "', quantity=" + self.quantity.to_string() + ")";
}

const MethodRow kFlowMethods[] = {
    method<kFlowGetAttribute, get_attribute<Flow>>(),
    exclusive_method<kFlowSetAttribute, set_attribute<Flow>>(),
};
const GetterRow kFlowGetters[] = {
    property<uuid_text<Flow, &Flow::id>>("id"),
    property<uuid_text<Flow, &Flow::resource_id>>("resource_id"),
    property<uuid_text<Flow, &Flow::from_id>>("from_id"),
    property<uuid_text<Flow, &Flow::to_id>>("to_id"),
    property<flow_quantity>("quantity"),
    property<visible_namespace<Flow>>("namespace"),
};

// ---- ResourceInstance ----

constexpr Signature kResourceInstanceNew{"ResourceInstance.__new__",
                                         {{"resource_id"}, {"entity_id"}, {"namespace", "None"}}};
constexpr Signature kResourceInstanceGetAttribute{"ResourceInstance.get_attribute", {{"key"}}};
constexpr Signature kResourceInstanceSetAttribute{"ResourceInstance.set_attribute",
                                                  {{"key"}, {"value"}}};

PyResult<ResourceInstance> new_resource_instance(Args& args) {
    VOK_ASSIGN(std::string_view resource_text, args.text(0));
    VOK_ASSIGN(std::string_view entity_text, args.text(1));
    VOK_ASSIGN(auto namespace_name, args.optional_text(2));
    VOK_ASSIGN(Uuid resource_id, parse_uuid(resource_text, messages::kInvalidResourceIdUuid));
    VOK_ASSIGN(Uuid entity_id, parse_uuid(entity_text, messages::kInvalidEntityIdUuid));
    return ResourceInstance::make(resource_id, entity_id, namespace_or_default(namespace_name));
}

PyResult<std::string> resource_instance_repr(const ResourceInstance& self) {
    return "ResourceInstance(id='" + self.id.to_string() + "', resource_id='" +
           self.resource_id.to_string() + "', entity_id='" + self.entity_id.to_string() +
           "', namespace=" + debug_quoted(self.namespace_) + ")";
}

const MethodRow kResourceInstanceMethods[] = {
    method<kResourceInstanceGetAttribute, get_attribute<ResourceInstance>>(),
    exclusive_method<kResourceInstanceSetAttribute, set_attribute<ResourceInstance>>(),
};
const GetterRow kResourceInstanceGetters[] = {
    property<uuid_text<ResourceInstance, &ResourceInstance::id>>("id"),
    property<uuid_text<ResourceInstance, &ResourceInstance::resource_id>>("resource_id"),
    property<uuid_text<ResourceInstance, &ResourceInstance::entity_id>>("entity_id"),
    property<visible_namespace<ResourceInstance>>("namespace"),
};

// ---- Instance ----

constexpr Signature kInstanceNew{"Instance.__new__",
                                 {{"name"}, {"entity_type"}, {"namespace", "None"}}};
constexpr Signature kInstanceGetField{"Instance.get_field", {{"key"}}};
constexpr Signature kInstanceSetField{"Instance.set_field", {{"key"}, {"value"}}};

PyResult<EntityInstance> new_instance(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(std::string entity_type, args.owned_text(1));
    VOK_ASSIGN(auto namespace_name, args.optional_text(2));
    return EntityInstance::make(std::move(name), std::move(entity_type),
                                namespace_or_default(namespace_name));
}

PyResult<std::string> instance_repr(const EntityInstance& self) {
    return "Instance(id='" + self.id.to_string() + "', name='" + self.name + "', entity_type='" +
           self.entity_type + "', namespace=" + debug_quoted(self.namespace_) + ")";
}

const MethodRow kInstanceMethods[] = {
    method<kInstanceGetField,
           get_open_value<EntityInstance, &EntityInstance::fields, messages::field_not_found>>(),
    exclusive_method<kInstanceSetField, set_open_value<EntityInstance, &EntityInstance::fields>>(),
};
const GetterRow kInstanceGetters[] = {
    property<uuid_text<EntityInstance, &EntityInstance::id>>("id"),
    property<text<EntityInstance, &EntityInstance::name>>("name"),
    property<text<EntityInstance, &EntityInstance::entity_type>>("entity_type"),
    property<visible_namespace<EntityInstance>>("namespace"),
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
           "', namespace=" + debug_quoted(self.namespace_) + ")";
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

// ---- Relation ----

constexpr Signature kRelationNew{"Relation.__new__",
                                 {{"name"},
                                  {"subject_role_id"},
                                  {"predicate"},
                                  {"object_role_id"},
                                  {"namespace", "None"},
                                  {"via_flow_id", "None"}}};

PyResult<Relation> new_relation(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(std::string_view subject_text, args.text(1));
    VOK_ASSIGN(std::string predicate, args.owned_text(2));
    VOK_ASSIGN(std::string_view object_text, args.text(3));
    VOK_ASSIGN(auto namespace_name, args.optional_text(4));
    VOK_ASSIGN(auto via_flow_text, args.optional_text(5));
    VOK_ASSIGN(Uuid subject, parse_uuid(subject_text, messages::kInvalidSubjectRoleIdUuid));
    VOK_ASSIGN(Uuid object, parse_uuid(object_text, messages::kInvalidObjectRoleIdUuid));
    std::optional<Uuid> via_flow;
    if (via_flow_text) {
        VOK_ASSIGN(Uuid flow, parse_uuid(*via_flow_text, messages::kInvalidViaFlowIdUuid));
        via_flow = flow;
    }
    return Relation::make(std::move(name), namespace_or_default(namespace_name), subject,
                          std::move(predicate), object, via_flow);
}

PyResult<std::optional<std::string>> relation_via_flow_id(const Relation& self) {
    if (!self.via_flow_id) return std::optional<std::string>();
    return std::optional<std::string>(self.via_flow_id->to_string());
}

// Unlike the other records, the namespace stands between single quotes, unescaped.
PyResult<std::string> relation_repr(const Relation& self) {
    std::string via_flow = self.via_flow_id ? self.via_flow_id->to_string() : "None";
    return "Relation(id='" + self.id.to_string() + "', name='" + self.name + "', namespace='" +
           self.namespace_ + "', predicate='" + self.predicate + "', subject='" +
           self.subject_role_id.to_string() + "', object='" + self.object_role_id.to_string() +
           "', via_flow_id='" + via_flow + "')";
}

const GetterRow kRelationGetters[] = {
    property<uuid_text<Relation, &Relation::id>>("id"),
    property<text<Relation, &Relation::name>>("name"),
    property<text<Relation, &Relation::namespace_>>("namespace"),
    property<uuid_text<Relation, &Relation::subject_role_id>>("subject_role_id"),
    property<text<Relation, &Relation::predicate>>("predicate"),
    property<uuid_text<Relation, &Relation::object_role_id>>("object_role_id"),
    property<relation_via_flow_id>("via_flow_id"),
};

// ---- Mapping and Projection ----

template <class T> PyResult<std::string> target_repr(const T& self, std::string_view class_name) {
    return std::string(class_name) + "(name='" + self.name + "', target_format='" +
           std::string(display_name_of(self.target_format)) + "')";
}

PyResult<std::string> mapping_repr(const Mapping& self) {
    return target_repr(self, "Mapping");
}

PyResult<std::string> projection_repr(const Projection& self) {
    return target_repr(self, "Projection");
}

const GetterRow kMappingGetters[] = {
    property<text<Mapping, &Mapping::name>>("name"),
    property<target_format<Mapping>>("target_format"),
};
const GetterRow kProjectionGetters[] = {
    property<text<Projection, &Projection::name>>("name"),
    property<target_format<Projection>>("target_format"),
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

const ClassSpec kFlowClass{.name = "Flow",
                           .layout = layout_of<Flow>(),
                           .constructor = constructor<kFlowNew, new_flow>(),
                           .methods = kFlowMethods,
                           .getters = kFlowGetters,
                           .slots = {.repr = unary_slot<flow_repr>}};

const ClassSpec kResourceInstanceClass{
    .name = "ResourceInstance",
    .layout = layout_of<ResourceInstance>(),
    .constructor = constructor<kResourceInstanceNew, new_resource_instance>(),
    .methods = kResourceInstanceMethods,
    .getters = kResourceInstanceGetters,
    .slots = {.repr = unary_slot<resource_instance_repr>}};

const ClassSpec kInstanceClass{.name = "Instance",
                               .layout = layout_of<EntityInstance>(),
                               .constructor = constructor<kInstanceNew, new_instance>(),
                               .methods = kInstanceMethods,
                               .getters = kInstanceGetters,
                               .slots = {.repr = unary_slot<instance_repr>}};

const ClassSpec kMappingClass{.name = "Mapping",
                              .layout = layout_of<Mapping>(),
                              .getters = kMappingGetters,
                              .slots = {.repr = unary_slot<mapping_repr>}};

const ClassSpec kProjectionClass{.name = "Projection",
                                 .layout = layout_of<Projection>(),
                                 .getters = kProjectionGetters,
                                 .slots = {.repr = unary_slot<projection_repr>}};

const ClassSpec kRoleClass{.name = "Role",
                           .layout = layout_of<Role>(),
                           .constructor = constructor<kRoleNew, new_role>(),
                           .methods = kRoleMethods,
                           .getters = kRoleGetters,
                           .slots = {.repr = unary_slot<role_repr>}};

const ClassSpec kRelationClass{.name = "Relation",
                               .layout = layout_of<Relation>(),
                               .constructor = constructor<kRelationNew, new_relation>(),
                               .getters = kRelationGetters,
                               .slots = {.repr = unary_slot<relation_repr>}};

} // namespace vok::python
