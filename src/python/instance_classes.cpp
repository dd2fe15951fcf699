// Wrappers of ResourceInstance and Instance; see instance_classes.h.
#include "python/instance_classes.h"

#include <string>
#include <string_view>
#include <utility>

#include "common/debug_quote.h"
#include "python/record_members.h"

namespace vok::python {

namespace {

using namespace records;

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
           "', namespace=" + debug_quoted(self.namespace_.view()) + ")";
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

PyResult<Instance> new_instance(Args& args) {
    VOK_ASSIGN(std::string name, args.owned_text(0));
    VOK_ASSIGN(std::string entity_type, args.owned_text(1));
    VOK_ASSIGN(auto namespace_name, args.optional_text(2));
    return Instance::make(std::move(name), std::move(entity_type),
                          namespace_or_default(namespace_name));
}

PyResult<std::string> instance_repr(const Instance& self) {
    return "Instance(id='" + self.id.to_string() + "', name='" + self.name + "', entity_type='" +
           self.entity_type + "', namespace=" + debug_quoted(self.namespace_.view()) + ")";
}

const MethodRow kInstanceMethods[] = {
    method<kInstanceGetField,
           get_open_value<Instance, &Instance::fields, messages::field_not_found>>(),
    exclusive_method<kInstanceSetField, set_open_value<Instance, &Instance::fields>>(),
};
const GetterRow kInstanceGetters[] = {
    property<uuid_text<Instance, &Instance::id>>("id"),
    property<text<Instance, &Instance::name>>("name"),
    property<text<Instance, &Instance::entity_type>>("entity_type"),
    property<visible_namespace<Instance>>("namespace"),
};

} // namespace

const ClassSpec kResourceInstanceClass{
    .name = "ResourceInstance",
    .layout = layout_of<ResourceInstance>(),
    .constructor = constructor<kResourceInstanceNew, new_resource_instance>(),
    .methods = kResourceInstanceMethods,
    .getters = kResourceInstanceGetters,
    .slots = {.repr = unary_slot<resource_instance_repr>}};

const ClassSpec kInstanceClass{.name = "Instance",
                               .layout = layout_of<Instance>(),
                               .constructor = constructor<kInstanceNew, new_instance>(),
                               .methods = kInstanceMethods,
                               .getters = kInstanceGetters,
                               .slots = {.repr = unary_slot<instance_repr>}};
} // namespace vok::python
