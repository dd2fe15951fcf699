// A canonical text dump of a whole graph: every record of every collection in insertion order,
// every field, the name indexes as the lookups answer them, the flow-quantity column and the
// evaluation mode. Two graphs with equal dumps are equal as far as any reader of the graph can
// tell.
//
// Random ids (flows, resource instances) differ between two lowerings of one file, so they are
// written as their position in their collection ("flow#3"); a reference to such an id anywhere else
// is written the same way, which keeps the comparison structural.
#pragma once

#include <cstdio>
#include <string>
#include <unordered_map>

#include "expression/expression_json.h"
#include "graph/graph.h"
#include "parser/token_readers.h"
#include "json/writer.h"

namespace vok::testing {

class GraphDump {
public:
    static std::string of(const Graph& graph) { return GraphDump(graph).text_; }

private:
    explicit GraphDump(const Graph& graph) {
        size_t n = 0;
        for (const auto& [id, flow] : graph.flows())
            random_ids_.emplace(id, "flow#" + std::to_string(n++));
        n = 0;
        for (const auto& [id, instance] : graph.instances())
            random_ids_.emplace(id, "instance#" + std::to_string(n++));

        line("three_valued", graph.use_three_valued_logic() ? "true" : "false");
        for (const auto& [key, e] : graph.entities()) {
            begin("entity", key, e.id);
            text(e.name), text(e.namespace_);
            text(e.version ? e.version->to_string() : "<none>");
            text(e.replaces ? *e.replaces : "<none>");
            for (const std::string& change : e.changes)
                text(change);
            text(json::to_compact_string(e.attributes));
            id(graph.find_entity_by_name(e.name));
            end();
        }
        for (const auto& [key, r] : graph.roles()) {
            begin("role", key, r.id);
            text(r.name), text(r.namespace_), text(json::to_compact_string(r.attributes));
            id(graph.find_role_by_name(r.name));
            end();
        }
        for (const auto& [key, r] : graph.resources()) {
            begin("resource", key, r.id);
            text(r.name), text(json::to_compact_string(unit_to_value(r.unit)));
            text(r.namespace_), text(json::to_compact_string(r.attributes));
            id(graph.find_resource_by_name(r.name));
            end();
        }
        for (const auto& [key, f] : graph.flows()) {
            begin("flow", key, f.id);
            id(f.resource_id), id(f.from_id), id(f.to_id), text(f.quantity.to_string());
            text(f.namespace_), text(json::to_compact_string(f.attributes));
            end();
        }
        for (double quantity : graph.flow_quantities_f64()) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", quantity);
            line("flow_quantity", buffer);
        }
        for (const auto& [key, r] : graph.relations()) {
            begin("relation", key, r.id);
            text(r.name), text(r.namespace_), id(r.subject_role_id), text(r.predicate);
            id(r.object_role_id), id(r.via_flow_id);
            end();
        }
        for (const auto& [key, i] : graph.instances()) {
            begin("resource_instance", key, i.id);
            id(i.resource_id), id(i.entity_id), text(i.namespace_);
            text(json::to_compact_string(i.attributes));
            end();
        }
        for (const auto& [key, i] : graph.entity_instances()) {
            begin("entity_instance", key, i.id);
            text(i.name), text(i.entity_type), text(i.namespace_);
            text(json::to_compact_string(i.fields));
            end();
        }
        for (const auto& [key, p] : graph.policies()) {
            begin("policy", key, p.id);
            text(p.name), text(p.namespace_), text(p.version.to_string());
            expression(p.expression);
            number(static_cast<int>(p.modality)), number(static_cast<int>(p.kind));
            number(p.priority), text(p.rationale ? *p.rationale : "<none>");
            for (const std::string& tag : p.tags)
                text(tag);
            end();
        }
        for (const auto& [key, p] : graph.patterns()) {
            begin("pattern", key, p.id);
            text(p.name), text(p.namespace_), text(p.regex);
            const Pattern* found = graph.find_pattern(p.name, p.namespace_);
            text(found == nullptr ? "<none>" : found->id.to_string());
            end();
        }
        for (const auto& [key, c] : graph.concept_changes()) {
            begin("concept_change", key, c.id);
            text(c.name), text(c.from_version), text(c.to_version), text(c.migration_policy);
            number(c.breaking_change ? 1 : 0);
            end();
        }
        for (const auto& [key, m] : graph.metrics()) {
            begin("metric", key, m.id);
            text(m.name), text(m.namespace_), expression(m.expression);
            text(m.refresh_interval ? std::to_string(m.refresh_interval->seconds) : "<none>");
            text(m.unit ? *m.unit : "<none>");
            text(m.threshold ? m.threshold->to_string() : "<none>");
            text(m.severity ? std::to_string(static_cast<int>(*m.severity)) : "<none>");
            text(m.target ? m.target->to_string() : "<none>");
            text(m.window ? std::to_string(m.window->seconds) : "<none>");
            end();
        }
        for (const auto& [key, m] : graph.mappings()) {
            begin("mapping", key, m.id);
            text(m.name), text(m.namespace_), number(static_cast<int>(m.target_format));
            for (const MappingRule& rule : m.rules) {
                text(rule.primitive_type), text(rule.primitive_name), text(rule.target_type);
                text(json::to_compact_string(rule.fields));
            }
            end();
        }
        for (const auto& [key, p] : graph.projections()) {
            begin("projection", key, p.id);
            text(p.name), text(p.namespace_), number(static_cast<int>(p.target_format));
            for (const ProjectionOverride& o : p.overrides) {
                text(o.primitive_type), text(o.primitive_name);
                text(json::to_compact_string(o.fields));
            }
            end();
        }
        for (const auto& [key, roles] : graph.entity_roles()) {
            text_ += "entity_roles " + name_of(key);
            for (const Uuid& role : roles)
                id(role);
            end();
        }
    }

    std::string name_of(const Uuid& value) const {
        auto found = random_ids_.find(value);
        return found == random_ids_.end() ? value.to_string() : found->second;
    }

    // A record line starts with its kind, its key and its id (which must agree).
    void begin(const char* kind, const Uuid& key, const Uuid& record_id) {
        text_ += kind;
        id(key);
        if (record_id != key) text_ += " <id differs from key: " + name_of(record_id) + ">";
    }
    void end() { text_ += '\n'; }
    void line(const char* kind, const std::string& value) {
        text_ += kind;
        text(value);
        end();
    }
    void text(const std::string& value) { text_ += ' ' + json::quote(value); }
    void number(long long value) { text_ += ' ' + std::to_string(value); }
    void id(const Uuid& value) { text_ += ' ' + name_of(value); }
    void id(const std::optional<Uuid>& value) {
        if (value) {
            id(*value);
        } else {
            text_ += " <none>";
        }
    }
    void expression(const Expression& e) {
        std::string out;
        json::Writer writer(out);
        write_expression_json(writer, e);
        text_ += ' ' + out;
    }

    std::unordered_map<Uuid, std::string> random_ids_;
    std::string text_;
};

// What a caller can observe of one lowering: the graph's dump, or the error's kind and text.
inline std::string lowering_outcome(const ParseResult<Graph>& graph) {
    if (graph.ok()) return GraphDump::of(*graph);
    return "error " + std::to_string(static_cast<int>(graph.error().kind())) + ": " +
           graph.error().to_string();
}

} // namespace vok::testing
