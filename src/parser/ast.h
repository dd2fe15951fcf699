// The syntax tree: the parsed form of one VOK DSL source file.
//
// It keeps what the source says, in source order, with little interpretation: names are plain
// strings, versions keep their source text, nothing is resolved. Three consumers read it without
// changing it (apart from the lowering writing back the effective profile): the lowering into the
// graph, the syntax-tree JSON and the source formatter. Policy, metric and instance-field
// expressions are already built into `Expression` trees.
//
// The small value types that the graph also stores (time spans, metric severities, target
// formats, mapping rules, projection overrides) are the graph's own, so lowering copies them as
// they are. Maps whose order the language leaves open (annotations, instance fields, mapping and
// projection fields) are kept sorted by key, which makes every output built from them
// reproducible.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "decimal/decimal.h"
#include "expression/expression.h"
#include "expression/policy.h"
#include "primitives/mapping.h"
#include "primitives/metric_severity.h"
#include "primitives/projection.h"
#include "primitives/target_format.h"
#include "primitives/time_span.h"
#include "json/value.h"

namespace vok {

struct FileMetadata {
    std::optional<std::string> namespace_;
    std::optional<std::string> version;
    std::optional<std::string> owner;
    std::optional<std::string> profile;
};

struct ImportItem {
    std::string name;
    std::optional<std::string> alias;
};

struct ImportSpecifier {
    enum class Kind : uint8_t { Named, Wildcard };
    Kind kind = Kind::Named;
    std::vector<ImportItem> items; // Named
    std::string alias;             // Wildcard
};

struct ImportDecl {
    ImportSpecifier specifier;
    std::string from_module;
};

// Open maps of the tree: annotation key to value.
using AnnotationMap = json::Object;

struct Spanned;

namespace ast {

struct Export {
    std::unique_ptr<Spanned> declaration; // never null
};
struct Entity {
    std::string name;
    std::optional<std::string> version;
    AnnotationMap annotations;
    std::optional<std::string> domain;
};
struct Resource {
    std::string name;
    std::optional<std::string> unit_name;
    std::optional<std::string> domain;
    AnnotationMap annotations;
};
struct Flow {
    std::string resource_name;
    std::string from_entity;
    std::string to_entity;
    std::optional<Decimal> quantity;
    AnnotationMap annotations;
};
struct Pattern {
    std::string name;
    std::string regex;
};
struct Role {
    std::string name;
    std::optional<std::string> domain;
};
struct Relation {
    std::string name;
    std::string subject_role;
    std::string predicate;
    std::string object_role;
    std::optional<std::string> via_flow;
};
struct Dimension {
    std::string name;
};
struct UnitDeclaration {
    std::string symbol;
    std::string dimension;
    Decimal factor;
    std::string base_unit;
};
struct PolicyMetadata {
    std::optional<PolicyKind> kind;
    std::optional<DeonticModality> modality;
    std::optional<int32_t> priority;
    std::optional<std::string> rationale;
    std::vector<std::string> tags;
};
struct Policy {
    std::string name;
    std::optional<std::string> version;
    PolicyMetadata metadata;
    Expression expression;
};
struct Instance {
    std::string name;
    std::string entity_type;
    std::map<std::string, Expression> fields;
};
struct ConceptChange {
    std::string name;
    std::string from_version;
    std::string to_version;
    std::string migration_policy;
    bool breaking_change = false;
};
struct MetricMetadata {
    std::optional<TimeSpan> refresh_interval;
    std::optional<std::string> unit;
    std::optional<Decimal> threshold;
    std::optional<MetricSeverity> severity;
    std::optional<Decimal> target;
    std::optional<TimeSpan> window;
};
struct Metric {
    std::string name;
    Expression expression;
    MetricMetadata metadata;
};
struct MappingDecl {
    std::string name;
    TargetFormat target = TargetFormat::Calm;
    std::vector<MappingRule> rules;
};
struct ProjectionDecl {
    std::string name;
    TargetFormat target = TargetFormat::Calm;
    std::vector<ProjectionOverride> overrides;
};

} // namespace ast

// The fifteen declaration kinds, in this order (the names are also the JSON tags).
using AstNode =
    std::variant<ast::Export, ast::Entity, ast::Resource, ast::Flow, ast::Pattern, ast::Role,
                 ast::Relation, ast::Dimension, ast::UnitDeclaration, ast::Policy, ast::Instance,
                 ast::ConceptChange, ast::Metric, ast::MappingDecl, ast::ProjectionDecl>;

inline constexpr std::array<std::string_view, 15> kAstNodeNames = {
    "Export",   "Entity",      "Resource",        "Flow",   "Pattern",  "Role",
    "Relation", "Dimension",   "UnitDeclaration", "Policy", "Instance", "ConceptChange",
    "Metric",   "MappingDecl", "ProjectionDecl"};

// One declaration with the position of its first character (1-based line; 1-based column counted
// in characters).
struct Spanned {
    AstNode node;
    size_t line = 0;
    size_t column = 0;
};

// A declaration with the export wrappers taken off.
inline const AstNode& unwrap_export(const AstNode& node) {
    const AstNode* n = &node;
    while (const auto* e = std::get_if<ast::Export>(n))
        n = &e->declaration->node;
    return *n;
}

struct Ast {
    FileMetadata metadata;
    std::vector<ImportDecl> imports;
    std::vector<Spanned> declarations;
};

} // namespace vok
