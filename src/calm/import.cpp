// Reading a CALM document into a graph; relies on the JSON reader (syntax first, then the records
// of calm_model.h), on the graph's constructors and adders for every check of the records, and on
// the DSL's expression rule and expression builder for policy expressions.
#include "calm/import.h"

#include <limits>
#include <optional>
#include <unordered_map>
#include <utf8proc.h>
#include <utility>

#include "calm/calm_model.h"
#include "common/cancellation.h"
#include "common/unicode_white_space.h"
#include "parser/expression_builder.h"
#include "parser/grammar/dsl_parser.h"
#include "units/unit_registry.h"
#include "json/text_deserializer.h"

namespace vok::calm {

namespace {

constexpr std::string_view kDefaultNamespace = "default";
constexpr std::string_view kDefaultUnitSymbol = "units";

// The length of `text` without its trailing white space.
size_t length_without_trailing_space(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t offset = 0;
    size_t kept = 0;
    while (offset < text.size()) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t used = utf8proc_iterate(
            bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &c);
        const size_t step = used > 0 ? static_cast<size_t>(used) : 1;
        offset += step;
        if (used <= 0 || !is_white_space(static_cast<char32_t>(c))) kept = offset;
    }
    return kept;
}

using IdTable = std::unordered_map<std::string, Uuid>;

class Importer {
public:
    Result<Graph, std::string> run(const CalmModel& model) {
        // The graph is new and only handed out at the end, so a stop anywhere drops it whole.
        for (const CalmNode& node : model.nodes) {
            poll_cancellation();
            if (node.node_type != CalmNodeType::Instance) VOK_TRY(add_node(node));
        }
        for (const CalmNode& node : model.nodes) {
            poll_cancellation();
            if (node.node_type == CalmNodeType::Instance) VOK_TRY(add_instance(node));
        }
        for (const CalmRelationship& relationship : model.relationships) {
            poll_cancellation();
            VOK_TRY(add_relationship(relationship));
        }
        return std::move(graph_);
    }

private:
    using Status = Result<void, std::string>;

    static std::string namespace_of(const CalmNode& node) {
        return node.namespace_ ? *node.namespace_ : std::string(kDefaultNamespace);
    }

    static const std::string* string_metadata(const CalmNode& node, std::string_view key) {
        const json::Value* value = node.metadata.find(key);
        return value != nullptr && value->is_string() ? &value->as_string() : nullptr;
    }

    // Members of "vok:attributes", when it is an object, in key order.
    template <class Record> static void set_attributes(const CalmNode& node, Record& record) {
        const json::Value* attributes = node.metadata.find("vok:attributes");
        if (attributes == nullptr || !attributes->is_object()) return;
        for (const auto& [key, value] : attributes->as_object())
            record.set_attribute(key, value);
    }

    static Status graph_status(Result<void, GraphError> added) {
        if (!added.ok()) return Err(added.error().to_string());
        return Ok();
    }

    Result<Uuid, std::string> look_up(std::string_view what, const std::string& text) const {
        const auto found = ids_.find(text);
        if (found == ids_.end()) return Err("Unknown " + std::string(what) + " ID: " + text);
        return found->second;
    }

    void enter(const CalmNode& node, const Uuid& id) { ids_.insert_or_assign(node.unique_id, id); }

    Status add_node(const CalmNode& node) {
        switch (node.node_type) {
        case CalmNodeType::Resource: {
            const std::string* symbol = string_metadata(node, "vok:unit");
            Resource resource =
                Resource::make(node.name, unit_for_symbol(symbol ? *symbol : kDefaultUnitSymbol),
                               namespace_of(node));
            set_attributes(node, resource);
            const Uuid id = resource.id;
            VOK_TRY(graph_status(graph_.add_resource(std::move(resource))));
            enter(node, id);
            return Ok();
        }
        case CalmNodeType::Actor:
        case CalmNodeType::Location: {
            Entity entity = Entity::make(node.name, namespace_of(node));
            set_attributes(node, entity);
            const Uuid id = entity.id;
            VOK_TRY(graph_status(graph_.add_entity(std::move(entity))));
            enter(node, id);
            return Ok();
        }
        case CalmNodeType::Constraint:
            return add_constraint(node);
        case CalmNodeType::Instance:
            return Ok();
        }
        return Ok();
    }

    Status add_constraint(const CalmNode& node) {
        const json::Value* primitive = node.metadata.find("vok:primitive");
        if (primitive != nullptr && primitive->is_string()) {
            const std::string& kind = primitive->as_string();
            if (kind == "Pattern") return add_pattern(node);
            // Metrics do not come back, and no other kind of record is a constraint.
            if (kind != "Policy") return Ok();
        }
        return add_policy(node);
    }

    Status add_pattern(const CalmNode& node) {
        const std::string* regex = string_metadata(node, "vok:regex");
        if (regex == nullptr) return Err(std::string("Missing vok:regex for Pattern node"));
        auto pattern = Pattern::make(node.name, namespace_of(node), *regex);
        if (!pattern.ok()) return Err("Invalid pattern regex: " + pattern.error().to_string());
        const Uuid id = pattern->id;
        VOK_TRY(graph_status(graph_.add_pattern(std::move(pattern).value())));
        enter(node, id);
        return Ok();
    }

    Status add_policy(const CalmNode& node) {
        const std::string* text = string_metadata(node, "vok:expression");
        if (text == nullptr) return Err(std::string("Missing vok:expression for constraint node"));
        auto expression = parse_calm_expression(*text);
        if (!expression.ok()) {
            return Err("Failed to parse policy expression: " + expression.error().to_string());
        }
        Policy policy = Policy::make(node.name, namespace_of(node), std::move(expression).value());
        if (const json::Value* priority = node.metadata.find("vok:priority")) {
            if (std::optional<int32_t> low_bits = priority_of(*priority))
                policy.priority = *low_bits;
        }
        if (const std::string* modality = string_metadata(node, "vok:modality")) {
            for (size_t i = 0; i < kDeonticModalityNames.size(); ++i) {
                if (*modality == kDeonticModalityNames[i])
                    policy.modality = static_cast<DeonticModality>(i);
            }
        }
        if (const std::string* kind = string_metadata(node, "vok:kind")) {
            for (size_t i = 0; i < kPolicyKindNames.size(); ++i) {
                if (*kind == kPolicyKindNames[i]) policy.kind = static_cast<PolicyKind>(i);
            }
        }
        const Uuid id = policy.id;
        VOK_TRY(graph_status(graph_.add_policy(std::move(policy))));
        enter(node, id);
        return Ok();
    }

    // An integer of the signed 64-bit range, wrapped to its low 32 bits read as signed.
    static std::optional<int32_t> priority_of(const json::Value& value) {
        if (!value.is_number()) return std::nullopt;
        const json::Number& number = value.as_number();
        uint64_t bits = 0;
        if (number.is_u64()) {
            if (number.as_u64() > uint64_t(std::numeric_limits<int64_t>::max()))
                return std::nullopt;
            bits = number.as_u64();
        } else if (number.is_i64()) {
            bits = static_cast<uint64_t>(number.as_i64());
        } else {
            return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(bits));
    }

    Status add_instance(const CalmNode& node) {
        const std::string* entity_text = string_metadata(node, "vok:entity_id");
        if (entity_text == nullptr) {
            return Err(std::string("Missing vok:entity_id in instance metadata"));
        }
        const std::string* resource_text = string_metadata(node, "vok:resource_id");
        if (resource_text == nullptr) {
            return Err(std::string("Missing vok:resource_id in instance metadata"));
        }
        VOK_ASSIGN(Uuid entity_id, look_up("entity", *entity_text));
        VOK_ASSIGN(Uuid resource_id, look_up("resource", *resource_text));
        ResourceInstance instance =
            ResourceInstance::make(resource_id, entity_id, namespace_of(node));
        set_attributes(node, instance);
        const Uuid id = instance.id;
        VOK_TRY(graph_status(graph_.add_instance(std::move(instance))));
        enter(node, id);
        return Ok();
    }

    Status add_relationship(const CalmRelationship& relationship) {
        if (const auto* details = std::get_if<FlowDetails>(&relationship.relationship_type)) {
            const auto* parties = std::get_if<SourceDestination>(&relationship.parties);
            if (parties == nullptr) {
                return Err(std::string("Flow relationship must have source/destination parties"));
            }
            VOK_ASSIGN(Uuid source, look_up("source", parties->source));
            VOK_ASSIGN(Uuid destination, look_up("destination", parties->destination));
            VOK_ASSIGN(Uuid resource, look_up("resource", details->resource));
            auto quantity = Decimal::parse(details->quantity);
            if (!quantity.ok()) {
                return Err("Invalid quantity '" + details->quantity +
                           "': " + quantity.error().to_string());
            }
            return graph_status(
                graph_.add_flow(Flow::make(resource, source, destination, *quantity)));
        }
        const std::string& name = std::get<std::string>(relationship.relationship_type);
        if (name == "ownership") {
            return Err(std::string("Ownership relationships should be modeled as Instances, not "
                                   "Simple relationships"));
        }
        if (name != "association") return Ok();
        const auto* parties = std::get_if<SourceDestination>(&relationship.parties);
        if (parties == nullptr) {
            return Err(
                std::string("Association relationship must have source/destination parties"));
        }
        VOK_ASSIGN(Uuid source, look_up("source", parties->source));
        VOK_ASSIGN(Uuid destination, look_up("destination", parties->destination));
        return graph_status(graph_.add_association(source, destination, "association"));
    }

    Graph graph_;
    IdTable ids_;
};

} // namespace

Result<Expression, ParserError> parse_calm_expression(std::string_view text) {
    auto tree = parse_expression(text);
    if (!tree.ok()) return Err(ParserError::grammar("Parse error: " + tree.error().to_string()));
    const grammar::DslPairs pairs = tree->pairs();
    const size_t count = pairs.size();
    if (count == 0) return Err(ParserError::grammar("Empty expression"));
    if (count > 1) return Err(ParserError::grammar("Trailing input detected after expression"));
    const grammar::DslPair pair = *pairs.begin();
    const size_t significant = length_without_trailing_space(text);
    if (pair.end() < significant) {
        return Err(ParserError::grammar(
            "Trailing input after expression: '" +
            std::string(text.substr(pair.end(), significant - pair.end())) + "'"));
    }
    return build_expression(pair);
}

const std::string& CalmImportError::message() const {
    return is<InvalidJson>() ? as<InvalidJson>().message : as<Import>().message;
}

Result<Graph, CalmImportError> import_calm(std::string_view calm_json) {
    {
        // Only the syntax check is needed from this reading; its value goes at once, so the
        // document is not held twice while the records are read.
        auto syntax = json::parse(calm_json);
        if (!syntax.ok())
            return Err(CalmImportError(CalmImportError::InvalidJson{syntax.error().to_string()}));
    }
    // The records are read from the text rather than from the parsed value, so that a member
    // given twice is refused instead of the later one silently winning.
    auto model = json::read_document(calm_json, &read_calm_model);
    if (!model.ok()) {
        return Err(CalmImportError(
            CalmImportError::Import{"Failed to parse CALM model: " + model.error().to_string()}));
    }
    auto graph = Importer().run(*model);
    if (!graph.ok()) return Err(CalmImportError(CalmImportError::Import{std::move(graph).error()}));
    return std::move(graph).value();
}

} // namespace vok::calm
