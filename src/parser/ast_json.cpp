// Writing the syntax-tree JSON document; see ast_json.h. Declarations are written through the
// streaming json::Writer (expressions through expression_json), with a size limit checked as the
// document grows.
#include "parser/ast_json.h"
#include "common/cancellation.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "expression/expression_json.h"

namespace vok {

namespace {

std::string duration_text(const TimeSpan& span) {
    return "PT" + std::to_string(span.seconds) + "S";
}

// Metric severities are written with three names: critical shares "Error".
std::string_view severity_text(MetricSeverity severity) {
    switch (severity) {
    case MetricSeverity::Info:
        return "Info";
    case MetricSeverity::Warning:
        return "Warning";
    case MetricSeverity::Error:
    case MetricSeverity::Critical:
        return "Error";
    }
    return "Error";
}

void optional_string(json::Writer& w, std::string_view key, const std::optional<std::string>& v) {
    if (v) w.string_member(key, *v);
}

void annotations(json::Writer& w, const AnnotationMap& map) {
    if (!map.empty()) w.value_member("annotations", json::Value(map));
}

void write_node(json::Writer& w, const AstNode& node) {
    w.begin_object();
    w.string_member("type", kAstNodeNames[node.index()]);
    std::visit(
        [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<T, ast::Export>) {
                w.key("declaration");
                write_declaration_json(w, *n.declaration);
            } else if constexpr (std::is_same_v<T, ast::Entity>) {
                w.string_member("name", n.name);
                optional_string(w, "version", n.version);
                annotations(w, n.annotations);
                optional_string(w, "domain", n.domain);
            } else if constexpr (std::is_same_v<T, ast::Resource>) {
                w.string_member("name", n.name);
                annotations(w, n.annotations);
                optional_string(w, "unit_name", n.unit_name);
                optional_string(w, "domain", n.domain);
            } else if constexpr (std::is_same_v<T, ast::Flow>) {
                w.string_member("resource_name", n.resource_name);
                annotations(w, n.annotations);
                w.string_member("from_entity", n.from_entity);
                w.string_member("to_entity", n.to_entity);
                if (n.quantity) w.string_member("quantity", n.quantity->to_string());
            } else if constexpr (std::is_same_v<T, ast::Pattern>) {
                w.string_member("name", n.name);
                w.string_member("regex", n.regex);
            } else if constexpr (std::is_same_v<T, ast::Role>) {
                w.string_member("name", n.name);
                optional_string(w, "domain", n.domain);
            } else if constexpr (std::is_same_v<T, ast::Relation>) {
                w.string_member("name", n.name);
                w.string_member("subject_role", n.subject_role);
                w.string_member("predicate", n.predicate);
                w.string_member("object_role", n.object_role);
                optional_string(w, "via_flow", n.via_flow);
            } else if constexpr (std::is_same_v<T, ast::Dimension>) {
                w.string_member("name", n.name);
            } else if constexpr (std::is_same_v<T, ast::UnitDeclaration>) {
                w.string_member("symbol", n.symbol);
                w.string_member("dimension", n.dimension);
                w.string_member("factor", n.factor.to_string());
                w.string_member("base_unit", n.base_unit);
            } else if constexpr (std::is_same_v<T, ast::Policy>) {
                w.string_member("name", n.name);
                optional_string(w, "version", n.version);
                w.key("metadata");
                w.begin_object();
                const ast::PolicyMetadata& m = n.metadata;
                if (m.kind) w.string_member("kind", kPolicyKindNames[static_cast<size_t>(*m.kind)]);
                if (m.modality) {
                    w.string_member("modality",
                                    kDeonticModalityNames[static_cast<size_t>(*m.modality)]);
                }
                if (m.priority) w.i64_member("priority", *m.priority);
                optional_string(w, "rationale", m.rationale);
                if (!m.tags.empty()) w.string_list_member("tags", m.tags);
                w.end_object();
                w.key("expression");
                write_expression_json(w, n.expression);
            } else if constexpr (std::is_same_v<T, ast::Instance>) {
                w.string_member("name", n.name);
                w.string_member("entity_type", n.entity_type);
                w.key("fields");
                w.begin_object();
                for (const auto& [field, value] : n.fields) {
                    w.key(field);
                    write_expression_json(w, value);
                }
                w.end_object();
            } else if constexpr (std::is_same_v<T, ast::ConceptChange>) {
                w.string_member("name", n.name);
                w.string_member("from_version", n.from_version);
                w.string_member("to_version", n.to_version);
                w.string_member("migration_policy", n.migration_policy);
                w.bool_member("breaking_change", n.breaking_change);
            } else if constexpr (std::is_same_v<T, ast::Metric>) {
                w.string_member("name", n.name);
                w.key("expression");
                write_expression_json(w, n.expression);
                w.key("metadata");
                w.begin_object();
                const ast::MetricMetadata& m = n.metadata;
                if (m.refresh_interval)
                    w.string_member("refresh_interval", duration_text(*m.refresh_interval));
                optional_string(w, "unit", m.unit);
                if (m.threshold) w.string_member("threshold", m.threshold->to_string());
                if (m.severity) w.string_member("severity", severity_text(*m.severity));
                if (m.target) w.string_member("target", m.target->to_string());
                if (m.window) w.string_member("window", duration_text(*m.window));
                w.end_object();
            } else if constexpr (std::is_same_v<T, ast::MappingDecl>) {
                w.string_member("name", n.name);
                w.string_member("target", name_of(n.target));
                w.key("rules");
                w.begin_array();
                for (const MappingRule& rule : n.rules) {
                    w.begin_object();
                    w.string_member("primitive_type", rule.primitive_type);
                    w.string_member("primitive_name", rule.primitive_name);
                    w.string_member("target_type", rule.target_type);
                    w.value_member("fields", json::Value(rule.fields));
                    w.end_object();
                }
                w.end_array();
            } else if constexpr (std::is_same_v<T, ast::ProjectionDecl>) {
                w.string_member("name", n.name);
                w.string_member("target", name_of(n.target));
                w.key("overrides");
                w.begin_array();
                for (const ProjectionOverride& o : n.overrides) {
                    w.begin_object();
                    w.string_member("primitive_type", o.primitive_type);
                    w.string_member("primitive_name", o.primitive_name);
                    w.value_member("fields", json::Value(o.fields));
                    w.end_object();
                }
                w.end_array();
            }
        },
        node);
    w.end_object();
}

// Where the keys of a top-level policy or metric expression sit: document, declarations array,
// wrapper, node, expression object. Instance fields and exported declarations sit deeper.
constexpr uint64_t kExpressionKeyLevel = 5;

// A lower bound on the indentation that writing `root` costs, counting from `level`: every
// operator node writes at least its "type" key on a line of its own, two spaces per level of
// depth, so a chain of n operators costs about n^2 bytes. Stops counting at `stop_at`.
uint64_t indentation_lower_bound(const Expression& root, uint64_t level, uint64_t stop_at) {
    std::vector<std::pair<const Expression*, uint64_t>> pending{{&root, level}};
    uint64_t total = 0;
    while (!pending.empty() && total < stop_at) {
        const auto [e, depth] = pending.back();
        pending.pop_back();
        total += 2 * depth;
        if (const auto* binary = e->get_if<expr::Binary>()) {
            pending.emplace_back(binary->left.get(), depth + 1);
            pending.emplace_back(binary->right.get(), depth + 1);
        } else if (const auto* unary = e->get_if<expr::Unary>()) {
            pending.emplace_back(unary->operand.get(), depth + 1);
        } else if (const auto* cast = e->get_if<expr::Cast>()) {
            pending.emplace_back(cast->operand.get(), depth + 1);
        }
    }
    return total;
}

// Whether the document of `ast` certainly passes `max_bytes` on its indentation alone: then it
// is refused before any of it is written (deep operator chains would otherwise be written up to
// the limit first).
bool certainly_exceeds(const Ast& ast, size_t max_bytes) {
    uint64_t total = 0;
    for (const Spanned& declaration : ast.declarations) {
        const AstNode& node = unwrap_export(declaration.node);
        const uint64_t left = max_bytes - std::min<uint64_t>(total, max_bytes);
        if (const auto* policy = std::get_if<ast::Policy>(&node)) {
            total += indentation_lower_bound(policy->expression, kExpressionKeyLevel, left);
        } else if (const auto* metric = std::get_if<ast::Metric>(&node)) {
            total += indentation_lower_bound(metric->expression, kExpressionKeyLevel, left);
        } else if (const auto* instance = std::get_if<ast::Instance>(&node)) {
            for (const auto& field : instance->fields)
                total += indentation_lower_bound(field.second, kExpressionKeyLevel, left);
        }
        if (total >= max_bytes) return true;
    }
    return false;
}

std::string too_large_message(size_t max_bytes) {
    return "the syntax-tree document would exceed " + std::to_string(max_bytes) +
           " bytes (expressions nested too deeply to print)";
}

} // namespace

void write_declaration_json(json::Writer& w, const Spanned& declaration) {
    w.begin_object();
    w.key("node");
    write_node(w, declaration.node);
    w.u64_member("line", declaration.line);
    w.u64_member("column", declaration.column);
    w.end_object();
}

size_t ast_json_limit_for(size_t source_bytes) {
    constexpr size_t kFloor = size_t{256} << 20;
    return source_bytes > kFloor / 64 ? source_bytes * 64 : kFloor;
}

Result<std::string, std::string> ast_to_json_document(const Ast& ast, size_t max_bytes) {
    if (certainly_exceeds(ast, max_bytes)) return Err(too_large_message(max_bytes));
    std::string out;
    json::Writer w(out, 2);
    w.set_limit(max_bytes);
    w.begin_object();
    w.key("metadata");
    w.begin_object();
    const FileMetadata& m = ast.metadata;
    optional_string(w, "namespace", m.namespace_);
    optional_string(w, "version", m.version);
    optional_string(w, "owner", m.owner);
    optional_string(w, "profile", m.profile);
    if (!ast.imports.empty()) {
        w.key("imports");
        w.begin_array();
        for (const ImportDecl& import : ast.imports) {
            w.begin_object();
            w.key("specifier");
            w.begin_object();
            if (import.specifier.kind == ImportSpecifier::Kind::Wildcard) {
                w.string_member("type", "Wildcard");
                w.string_member("alias", import.specifier.alias);
            } else {
                w.string_member("type", "Named");
                w.key("items");
                w.begin_array();
                for (const ImportItem& item : import.specifier.items) {
                    w.begin_object();
                    w.string_member("name", item.name);
                    optional_string(w, "alias", item.alias);
                    w.end_object();
                }
                w.end_array();
            }
            w.end_object();
            w.string_member("from_module", import.from_module);
            w.end_object();
        }
        w.end_array();
    }
    w.end_object();
    w.key("declarations");
    w.begin_array();
    for (const Spanned& declaration : ast.declarations) {
        poll_cancellation();
        write_declaration_json(w, declaration);
        if (w.exceeded()) break;
    }
    w.end_array();
    w.end_object();
    if (w.exceeded()) return Err(too_large_message(max_bytes));
    return out;
}

} // namespace vok
