// Structural comparison of two syntax trees for the formatter's read-back tests.
//
// Two trees are equal when every field the tree holds is equal, ignoring what formatting changes
// by design: the positions of declarations and, when asked, the order of the imports (compared
// after the same stable sort by module that the formatter applies). Decimals are compared with
// their scale (12.50 is not 12.5), since the formatter must keep it. The result names the first
// difference, for readable failures; nothing means equal.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "expression/expression_text.h"
#include "parser/ast.h"
#include "json/writer.h"

namespace vok::testing {

namespace ast_equality_detail {

inline std::string show(const std::optional<std::string>& s) {
    return s ? "\"" + *s + "\"" : "none";
}

inline std::optional<std::string> differ(const std::string& what, const std::string& a,
                                         const std::string& b) {
    if (a == b) return std::nullopt;
    return what + ": " + a + " vs " + b;
}

inline std::string decimal_text(const std::optional<Decimal>& d) {
    return d ? d->to_string() : "none";
}

inline std::string span_text(const std::optional<TimeSpan>& s) {
    return s ? std::to_string(s->seconds) : "none";
}

inline std::string value_text(const json::Value& v) {
    return json::to_compact_string(v);
}

inline std::optional<std::string> expressions(const std::string& what, const Expression& a,
                                              const Expression& b) {
    if (a == b && expression_text(a) == expression_text(b)) return std::nullopt;
    return what + ": " + expression_text(a) + " vs " + expression_text(b);
}

inline std::string import_text(const ImportDecl& d) {
    std::string s =
        d.specifier.kind == ImportSpecifier::Kind::Named ? "{" : "* as " + d.specifier.alias;
    for (const ImportItem& item : d.specifier.items)
        s += item.name + (item.alias ? " as " + *item.alias : "") + ",";
    if (d.specifier.kind == ImportSpecifier::Kind::Named) s += "}";
    return s + " from " + d.from_module;
}

#define VOK_DIFFER(what, a, b)                                                                     \
    if (auto d = differ(what, a, b)) return d

inline std::optional<std::string> nodes(const AstNode& a, const AstNode& b);

inline std::optional<std::string> annotations(const AnnotationMap& a, const AnnotationMap& b) {
    if (auto d = differ("annotations", value_text(json::Value(a)), value_text(json::Value(b))))
        return d;
    if (!(a == b)) return std::string("annotation values");
    return std::nullopt;
}

inline std::optional<std::string> nodes(const AstNode& an, const AstNode& bn) {
    VOK_DIFFER("declaration kind", std::string(kAstNodeNames[an.index()]),
               std::string(kAstNodeNames[bn.index()]));
    return std::visit(
        [&](const auto& a) -> std::optional<std::string> {
            using T = std::decay_t<decltype(a)>;
            const T& b = std::get<T>(bn);
            if constexpr (std::is_same_v<T, ast::Export>) {
                return nodes(a.declaration->node, b.declaration->node);
            } else if constexpr (std::is_same_v<T, ast::Entity>) {
                VOK_DIFFER("entity name", a.name, b.name);
                VOK_DIFFER("entity version", show(a.version), show(b.version));
                VOK_DIFFER("entity domain", show(a.domain), show(b.domain));
                return annotations(a.annotations, b.annotations);
            } else if constexpr (std::is_same_v<T, ast::Resource>) {
                VOK_DIFFER("resource name", a.name, b.name);
                VOK_DIFFER("resource unit", show(a.unit_name), show(b.unit_name));
                VOK_DIFFER("resource domain", show(a.domain), show(b.domain));
                return annotations(a.annotations, b.annotations);
            } else if constexpr (std::is_same_v<T, ast::Flow>) {
                VOK_DIFFER("flow resource", a.resource_name, b.resource_name);
                VOK_DIFFER("flow from", a.from_entity, b.from_entity);
                VOK_DIFFER("flow to", a.to_entity, b.to_entity);
                VOK_DIFFER("flow quantity", decimal_text(a.quantity), decimal_text(b.quantity));
                return annotations(a.annotations, b.annotations);
            } else if constexpr (std::is_same_v<T, ast::Pattern>) {
                VOK_DIFFER("pattern name", a.name, b.name);
                VOK_DIFFER("pattern regex", a.regex, b.regex);
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::Role>) {
                VOK_DIFFER("role name", a.name, b.name);
                VOK_DIFFER("role domain", show(a.domain), show(b.domain));
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::Relation>) {
                VOK_DIFFER("relation name", a.name, b.name);
                VOK_DIFFER("relation subject", a.subject_role, b.subject_role);
                VOK_DIFFER("relation predicate", a.predicate, b.predicate);
                VOK_DIFFER("relation object", a.object_role, b.object_role);
                VOK_DIFFER("relation via", show(a.via_flow), show(b.via_flow));
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::Dimension>) {
                VOK_DIFFER("dimension name", a.name, b.name);
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::UnitDeclaration>) {
                VOK_DIFFER("unit symbol", a.symbol, b.symbol);
                VOK_DIFFER("unit dimension", a.dimension, b.dimension);
                VOK_DIFFER("unit factor", a.factor.to_string(), b.factor.to_string());
                VOK_DIFFER("unit base", a.base_unit, b.base_unit);
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::Policy>) {
                VOK_DIFFER("policy name", a.name, b.name);
                VOK_DIFFER("policy version", show(a.version), show(b.version));
                const auto& ma = a.metadata;
                const auto& mb = b.metadata;
                const auto opt = [](const auto& o) {
                    return o ? std::to_string(static_cast<int64_t>(*o)) : std::string("none");
                };
                VOK_DIFFER("policy kind", opt(ma.kind), opt(mb.kind));
                VOK_DIFFER("policy modality", opt(ma.modality), opt(mb.modality));
                VOK_DIFFER("policy priority", opt(ma.priority), opt(mb.priority));
                VOK_DIFFER("policy rationale", show(ma.rationale), show(mb.rationale));
                if (ma.tags != mb.tags) return std::string("policy tags");
                return expressions("policy expression", a.expression, b.expression);
            } else if constexpr (std::is_same_v<T, ast::Instance>) {
                VOK_DIFFER("instance name", a.name, b.name);
                VOK_DIFFER("instance type", a.entity_type, b.entity_type);
                VOK_DIFFER("instance field count", std::to_string(a.fields.size()),
                           std::to_string(b.fields.size()));
                for (auto ia = a.fields.begin(), ib = b.fields.begin(); ia != a.fields.end();
                     ++ia, ++ib) {
                    VOK_DIFFER("instance field name", ia->first, ib->first);
                    if (auto d = expressions("instance field " + ia->first, ia->second, ib->second))
                        return d;
                }
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::ConceptChange>) {
                VOK_DIFFER("concept change name", a.name, b.name);
                VOK_DIFFER("from version", a.from_version, b.from_version);
                VOK_DIFFER("to version", a.to_version, b.to_version);
                VOK_DIFFER("migration policy", a.migration_policy, b.migration_policy);
                VOK_DIFFER("breaking change", std::to_string(a.breaking_change),
                           std::to_string(b.breaking_change));
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::Metric>) {
                VOK_DIFFER("metric name", a.name, b.name);
                const auto& ma = a.metadata;
                const auto& mb = b.metadata;
                VOK_DIFFER("refresh interval", span_text(ma.refresh_interval),
                           span_text(mb.refresh_interval));
                VOK_DIFFER("metric unit", show(ma.unit), show(mb.unit));
                VOK_DIFFER("threshold", decimal_text(ma.threshold), decimal_text(mb.threshold));
                VOK_DIFFER("severity",
                           ma.severity ? std::string(name_of(*ma.severity)) : std::string("none"),
                           mb.severity ? std::string(name_of(*mb.severity)) : std::string("none"));
                VOK_DIFFER("target", decimal_text(ma.target), decimal_text(mb.target));
                VOK_DIFFER("window", span_text(ma.window), span_text(mb.window));
                return expressions("metric expression", a.expression, b.expression);
            } else if constexpr (std::is_same_v<T, ast::MappingDecl>) {
                VOK_DIFFER("mapping name", a.name, b.name);
                VOK_DIFFER("mapping target", std::string(name_of(a.target)),
                           std::string(name_of(b.target)));
                VOK_DIFFER("mapping rule count", std::to_string(a.rules.size()),
                           std::to_string(b.rules.size()));
                for (size_t i = 0; i < a.rules.size(); ++i) {
                    const MappingRule& ra = a.rules[i];
                    const MappingRule& rb = b.rules[i];
                    VOK_DIFFER("rule type", ra.primitive_type, rb.primitive_type);
                    VOK_DIFFER("rule name", ra.primitive_name, rb.primitive_name);
                    VOK_DIFFER("rule target", ra.target_type, rb.target_type);
                    VOK_DIFFER("rule fields", value_text(json::Value(ra.fields)),
                               value_text(json::Value(rb.fields)));
                    if (!(ra.fields == rb.fields)) return std::string("rule field values");
                }
                return std::nullopt;
            } else if constexpr (std::is_same_v<T, ast::ProjectionDecl>) {
                VOK_DIFFER("projection name", a.name, b.name);
                VOK_DIFFER("projection target", std::string(name_of(a.target)),
                           std::string(name_of(b.target)));
                VOK_DIFFER("override count", std::to_string(a.overrides.size()),
                           std::to_string(b.overrides.size()));
                for (size_t i = 0; i < a.overrides.size(); ++i) {
                    const ProjectionOverride& ra = a.overrides[i];
                    const ProjectionOverride& rb = b.overrides[i];
                    VOK_DIFFER("override type", ra.primitive_type, rb.primitive_type);
                    VOK_DIFFER("override name", ra.primitive_name, rb.primitive_name);
                    VOK_DIFFER("override fields", value_text(json::Value(ra.fields)),
                               value_text(json::Value(rb.fields)));
                    if (!(ra.fields == rb.fields)) return std::string("override field values");
                }
                return std::nullopt;
            }
        },
        an);
}

#undef VOK_DIFFER

} // namespace ast_equality_detail

// The first difference between two trees, or nothing when they are equal.
inline std::optional<std::string> ast_difference(const Ast& a, const Ast& b,
                                                 bool ignore_import_order) {
    using namespace ast_equality_detail;
    const auto& ma = a.metadata;
    const auto& mb = b.metadata;
    if (auto d = differ("namespace", show(ma.namespace_), show(mb.namespace_))) return d;
    if (auto d = differ("version", show(ma.version), show(mb.version))) return d;
    if (auto d = differ("owner", show(ma.owner), show(mb.owner))) return d;
    if (auto d = differ("profile", show(ma.profile), show(mb.profile))) return d;
    const auto imports = [&](const Ast& t) {
        std::vector<const ImportDecl*> list;
        for (const ImportDecl& d : t.imports)
            list.push_back(&d);
        if (ignore_import_order) {
            std::stable_sort(list.begin(), list.end(), [](const auto* x, const auto* y) {
                return x->from_module < y->from_module;
            });
        }
        std::string text;
        for (const ImportDecl* d : list)
            text += import_text(*d) + "; ";
        return text;
    };
    if (auto d = differ("imports", imports(a), imports(b))) return d;
    if (auto d = differ("declaration count", std::to_string(a.declarations.size()),
                        std::to_string(b.declarations.size()))) {
        return d;
    }
    for (size_t i = 0; i < a.declarations.size(); ++i) {
        if (auto d = nodes(a.declarations[i].node, b.declarations[i].node))
            return "declaration " + std::to_string(i + 1) + ": " + *d;
    }
    return std::nullopt;
}

} // namespace vok::testing
