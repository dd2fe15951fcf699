// Wrappers of Flow and Relation; see connection_classes.h.
#include "python/connection_classes.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "decimal/decimal.h"
#include "python/record_members.h"

namespace vok::python {

namespace {

using namespace records;

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

} // namespace

const ClassSpec kFlowClass{.name = "Flow",
                           .layout = layout_of<Flow>(),
                           .constructor = constructor<kFlowNew, new_flow>(),
                           .methods = kFlowMethods,
                           .getters = kFlowGetters,
                           .slots = {.repr = unary_slot<flow_repr>}};

const ClassSpec kRelationClass{.name = "Relation",
                               .layout = layout_of<Relation>(),
                               .constructor = constructor<kRelationNew, new_relation>(),
                               .getters = kRelationGetters,
                               .slots = {.repr = unary_slot<relation_repr>}};
} // namespace vok::python
