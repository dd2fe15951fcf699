// parse_source: the pair tree of the grammar turned into the syntax tree; see parse_source.h.
// One builder per declaration rule; expressions and token values are built by
// expression_builder.h and token_readers.h; failures are ParserError values.
#include "parser/parse_source.h"
#include "common/ascii.h"
#include "common/cancellation.h"

#include "parser/expression_builder.h"

namespace vok {

namespace {

ParserError grammar_error(std::string message) {
    return ParserError::grammar(std::move(message));
}

// ---- file header ----

Result<void, ParserError> read_header_annotation(const grammar::DslPair& pair,
                                                 FileMetadata& header) {
    grammar::DslPairs children = pair.children();
    auto name_pair = children.next();
    if (!name_pair) return Err(grammar_error("Expected annotation name"));
    auto value_pair = children.next();
    if (!value_pair) return Err(grammar_error("Expected annotation value"));
    std::string name = pair_text_lowercased(*name_pair);
    VOK_ASSIGN(std::string value, parse_string_literal(*value_pair));
    if (name == "namespace") {
        header.namespace_ = std::move(value);
    } else if (name == "version") {
        header.version = std::move(value);
    } else if (name == "owner") {
        header.owner = std::move(value);
    } else if (name == "profile") {
        header.profile = std::move(value);
    } else {
        return Err(grammar_error("Unknown annotation: " + name));
    }
    return Ok();
}

ParseResult<ImportDecl> read_import(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto specifier_pair = children.next();
    if (!specifier_pair) return Err(grammar_error("Missing import specifier"));
    auto module_pair = children.next();
    if (!module_pair) return Err(grammar_error("Missing import source"));
    grammar::DslPair specifier = *specifier_pair;
    if (specifier.rule() == grammar::Rule::import_specifier) {
        auto inner = specifier.children().peek();
        if (inner) specifier = *inner;
    }
    ImportDecl decl;
    if (specifier.rule() == grammar::Rule::import_named) {
        decl.specifier.kind = ImportSpecifier::Kind::Named;
        for (const grammar::DslPair& item : specifier.children()) {
            if (item.rule() != grammar::Rule::import_item) continue;
            grammar::DslPairs parts = item.children();
            auto name = parts.next();
            if (!name) return Err(grammar_error("Expected import item name"));
            ImportItem import_item{pair_text(*name), std::nullopt};
            if (auto alias = parts.next()) import_item.alias = pair_text(*alias);
            decl.specifier.items.push_back(std::move(import_item));
        }
    } else if (specifier.rule() == grammar::Rule::import_wildcard) {
        auto alias = specifier.children().peek();
        if (!alias) return Err(grammar_error("Expected alias for wildcard import"));
        decl.specifier.kind = ImportSpecifier::Kind::Wildcard;
        decl.specifier.alias = pair_text(*alias);
    } else {
        return Err(grammar_error("Unexpected import specifier: " +
                                 std::string(grammar::rule_name(specifier.rule()))));
    }
    VOK_ASSIGN(decl.from_module, parse_string_literal(*module_pair));
    return decl;
}

// ---- shared annotation clause of entities, resources and flows ----

Result<void, ParserError> read_annotation_clause(const grammar::DslPair& pair,
                                                 AnnotationMap& annotations) {
    grammar::DslPairs children = pair.children();
    auto first = children.next();
    if (!first) return Ok();
    switch (first->rule()) {
    case grammar::Rule::ea_replaces: {
        auto name_pair = children.next();
        if (!name_pair) return Err(grammar_error("Expected name in replaces"));
        VOK_ASSIGN(std::string name, build_name(*name_pair));
        if (auto version = children.peek(); version && version->rule() == grammar::Rule::version)
            name += " v" + pair_text(*version);
        annotations.insert_or_assign("replaces", json::Value(std::move(name)));
        return Ok();
    }
    case grammar::Rule::ea_changes: {
        auto array = children.next();
        if (!array) return Err(grammar_error("Expected string array in changes"));
        json::Array items;
        for (const grammar::DslPair& item : array->children()) {
            VOK_ASSIGN(std::string s, parse_string_literal(item));
            items.emplace_back(std::move(s));
        }
        annotations.insert_or_assign("changes", json::Value(std::move(items)));
        return Ok();
    }
    case grammar::Rule::identifier: {
        std::string key = pair_text_lowercased(*first);
        auto value_pair = children.next();
        if (!value_pair) return Err(grammar_error("Expected annotation value"));
        VOK_ASSIGN(json::Value value, annotation_value_to_json(*value_pair));
        annotations.insert_or_assign(std::move(key), std::move(value));
        return Ok();
    }
    default:
        if (pair.rule() == grammar::Rule::flow_annotation)
            return Err(grammar_error("Unexpected flow annotation: " + pair_text(*first)));
        return Ok();
    }
}

// ---- declarations ----

ParseResult<AstNode> build_entity(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name_pair = children.next();
    if (!name_pair) return Err(grammar_error("Expected entity name"));
    ast::Entity entity;
    VOK_ASSIGN(entity.name, build_name(*name_pair));
    while (auto child = children.next()) {
        switch (child->rule()) {
        case grammar::Rule::version:
            entity.version = pair_text(*child);
            break;
        case grammar::Rule::identifier:
            entity.domain = pair_text(*child);
            break;
        case grammar::Rule::entity_annotation:
            VOK_TRY(read_annotation_clause(*child, entity.annotations));
            break;
        default:
            break;
        }
    }
    return AstNode(std::move(entity));
}

ParseResult<AstNode> build_resource(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name_pair = children.next();
    if (!name_pair) return Err(grammar_error("Expected resource name"));
    ast::Resource resource;
    VOK_ASSIGN(resource.name, build_name(*name_pair));
    bool in_clause = false;
    while (auto child = children.next()) {
        switch (child->rule()) {
        case grammar::Rule::in_keyword:
            in_clause = true;
            break;
        case grammar::Rule::identifier:
            (in_clause ? resource.domain : resource.unit_name) = pair_text(*child);
            break;
        case grammar::Rule::resource_annotation:
            VOK_TRY(read_annotation_clause(*child, resource.annotations));
            break;
        default:
            break;
        }
    }
    return AstNode(std::move(resource));
}

ParseResult<AstNode> build_flow(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto resource_pair = children.next();
    if (!resource_pair) return Err(grammar_error("Expected resource name"));
    ast::Flow flow;
    VOK_ASSIGN(flow.resource_name, parse_string_literal(*resource_pair));
    std::optional<std::string> from, to;
    while (auto child = children.next()) {
        switch (child->rule()) {
        case grammar::Rule::flow_annotation:
            VOK_TRY(read_annotation_clause(*child, flow.annotations));
            break;
        case grammar::Rule::string_literal: {
            VOK_ASSIGN(std::string s, parse_string_literal(*child));
            if (!from) {
                from = std::move(s);
            } else if (!to) {
                to = std::move(s);
            }
            break;
        }
        case grammar::Rule::number: {
            VOK_ASSIGN(Decimal q, parse_decimal(*child));
            flow.quantity = q;
            break;
        }
        default:
            break;
        }
    }
    if (!from) return Err(grammar_error("Expected from entity"));
    if (!to) return Err(grammar_error("Expected to entity"));
    flow.from_entity = std::move(*from);
    flow.to_entity = std::move(*to);
    return AstNode(std::move(flow));
}

ParseResult<AstNode> build_relation(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    ast::Relation relation;
    auto name = children.next();
    if (!name) return Err(grammar_error("Expected relation name"));
    VOK_ASSIGN(relation.name, build_name(*name));
    auto subject = children.next();
    if (!subject) return Err(grammar_error("Expected subject role in relation"));
    VOK_ASSIGN(relation.subject_role, parse_string_literal(*subject));
    auto predicate = children.next();
    if (!predicate) return Err(grammar_error("Expected predicate in relation"));
    VOK_ASSIGN(relation.predicate, parse_string_literal(*predicate));
    auto object = children.next();
    if (!object) return Err(grammar_error("Expected object role in relation"));
    VOK_ASSIGN(relation.object_role, parse_string_literal(*object));
    if (auto via = children.next()) {
        grammar::DslPair literal = *via;
        if (literal.rule() != grammar::Rule::string_literal) {
            auto inner = via->children().peek();
            if (!inner) return Err(grammar_error("Expected flow name after via"));
            literal = *inner;
        }
        VOK_ASSIGN(std::string flow_name, parse_string_literal(literal));
        relation.via_flow = std::move(flow_name);
    }
    return AstNode(std::move(relation));
}

ParseResult<AstNode> build_instance(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name = children.next();
    if (!name) return Err(grammar_error("Expected instance name"));
    auto entity_type = children.next();
    if (!entity_type) return Err(grammar_error("Expected entity type"));
    ast::Instance instance;
    instance.name = pair_text(*name);
    VOK_ASSIGN(instance.entity_type, parse_string_literal(*entity_type));
    if (auto body = children.next(); body && body->rule() == grammar::Rule::instance_body) {
        for (const grammar::DslPair& field : body->children()) {
            if (field.rule() != grammar::Rule::instance_field) continue;
            grammar::DslPairs parts = field.children();
            auto field_name = parts.next();
            if (!field_name) return Err(grammar_error("Expected field name"));
            std::string key = pair_text(*field_name);
            if (instance.fields.contains(key)) {
                auto pos = field.line_col();
                return Err(grammar_error("Duplicate field name '" + key + "' at line " +
                                         std::to_string(pos.line) + ", column " +
                                         std::to_string(pos.column)));
            }
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected field value"));
            VOK_ASSIGN(Expression e, build_expression(*value));
            instance.fields.emplace(std::move(key), std::move(e));
        }
    }
    return AstNode(std::move(instance));
}

ParseResult<AstNode> build_policy(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name = children.next();
    if (!name) return Err(grammar_error("Expected policy name"));
    std::optional<std::string> version;
    ast::PolicyMetadata metadata;
    while (auto child = children.next()) {
        switch (child->rule()) {
        case grammar::Rule::policy_kind: {
            std::string word = pair_text_lowercased(*child);
            if (word == "constraint") {
                metadata.kind = PolicyKind::Constraint;
            } else if (word == "derivation") {
                metadata.kind = PolicyKind::Derivation;
            } else if (word == "obligation") {
                metadata.kind = PolicyKind::Obligation;
            } else {
                return Err(grammar_error("Unknown policy kind: " + pair_text(*child)));
            }
            break;
        }
        case grammar::Rule::policy_modality: {
            std::string word = pair_text_lowercased(*child);
            if (word == "obligation") {
                metadata.modality = DeonticModality::Obligation;
            } else if (word == "prohibition") {
                metadata.modality = DeonticModality::Prohibition;
            } else if (word == "permission") {
                metadata.modality = DeonticModality::Permission;
            } else {
                return Err(grammar_error("Unknown policy modality: " + pair_text(*child)));
            }
            break;
        }
        case grammar::Rule::number: {
            VOK_ASSIGN(int32_t priority, parse_number(*child));
            metadata.priority = priority;
            break;
        }
        case grammar::Rule::policy_annotation: {
            grammar::DslPairs parts = child->children();
            auto key = parts.next();
            if (!key) return Err(grammar_error("Expected annotation name"));
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected annotation value"));
            std::string key_text = pair_text_lowercased(*key);
            if (key_text == "rationale") {
                VOK_ASSIGN(std::string r, parse_string_literal(*value));
                metadata.rationale = std::move(r);
            } else if (key_text == "tags") {
                if (value->rule() == grammar::Rule::string_array) {
                    for (const grammar::DslPair& item : value->children()) {
                        if (item.rule() != grammar::Rule::string_literal) continue;
                        VOK_ASSIGN(std::string t, parse_string_literal(item));
                        metadata.tags.push_back(std::move(t));
                    }
                } else {
                    VOK_ASSIGN(std::string t, parse_string_literal(*value));
                    metadata.tags.push_back(std::move(t));
                }
            } else {
                return Err(grammar_error("Unknown policy annotation: " + key_text));
            }
            break;
        }
        case grammar::Rule::version:
            version = pair_text(*child);
            break;
        case grammar::Rule::expression: {
            VOK_ASSIGN(Expression e, build_expression(*child));
            return AstNode(ast::Policy{pair_text(*name), std::move(version), std::move(metadata),
                                       std::move(e)});
        }
        default:
            break;
        }
    }
    return Err(grammar_error("Policy missing expression"));
}

ParseResult<TimeSpan> read_duration(grammar::DslPairs& parts, const char* missing_value,
                                    const char* missing_unit) {
    auto count_pair = parts.next();
    if (!count_pair) return Err(grammar_error(missing_value));
    VOK_ASSIGN(int64_t count, parse_integer(*count_pair));
    auto unit_pair = parts.next();
    if (!unit_pair) return Err(grammar_error(missing_unit));
    VOK_ASSIGN(std::string unit, parse_string_literal(*unit_pair));
    // The position only words an error: it is looked up when the first reading fails.
    auto span = parse_duration_unit(count, unit, 0, 0);
    if (span.ok()) return span;
    auto pos = unit_pair->line_col();
    return parse_duration_unit(count, unit, pos.line, pos.column);
}

ParseResult<AstNode> build_metric(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name_pair = children.next();
    if (!name_pair) return Err(grammar_error("Expected metric name"));
    VOK_ASSIGN(std::string name, build_name(*name_pair));
    std::optional<grammar::DslPair> expression_pair;
    ast::MetricMetadata metadata;
    while (auto child = children.next()) {
        if (child->rule() == grammar::Rule::expression) {
            expression_pair = *child;
            continue;
        }
        if (child->rule() != grammar::Rule::metric_annotation) continue;
        grammar::DslPairs parts = child->children();
        auto key = parts.next();
        if (!key) return Err(grammar_error("Expected annotation key"));
        switch (key->rule()) {
        case grammar::Rule::ma_refresh_interval: {
            VOK_ASSIGN(TimeSpan span, read_duration(parts, "Expected refresh interval value",
                                                    "Expected refresh interval unit"));
            metadata.refresh_interval = span;
            break;
        }
        case grammar::Rule::ma_unit: {
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected unit"));
            VOK_ASSIGN(std::string unit, parse_string_literal(*value));
            metadata.unit = std::move(unit);
            break;
        }
        case grammar::Rule::ma_threshold: {
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected threshold value"));
            VOK_ASSIGN(Decimal d, parse_decimal(*value));
            metadata.threshold = d;
            break;
        }
        case grammar::Rule::ma_severity: {
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected severity"));
            VOK_ASSIGN(std::string written, parse_string_literal(*value));
            std::string word = ascii_lowercase(written);
            if (word == "info") {
                metadata.severity = MetricSeverity::Info;
            } else if (word == "warning") {
                metadata.severity = MetricSeverity::Warning;
            } else if (word == "error") {
                metadata.severity = MetricSeverity::Error;
            } else if (word == "critical") {
                metadata.severity = MetricSeverity::Critical;
            } else {
                auto pos = value->line_col();
                return Err(grammar_error("Unknown severity '" + written + "' at " +
                                         std::to_string(pos.line) + ":" +
                                         std::to_string(pos.column) +
                                         " (expected one of: info, warning, error, critical)"));
            }
            break;
        }
        case grammar::Rule::ma_target: {
            auto value = parts.next();
            if (!value) return Err(grammar_error("Expected target value"));
            VOK_ASSIGN(Decimal d, parse_decimal(*value));
            metadata.target = d;
            break;
        }
        case grammar::Rule::ma_window: {
            VOK_ASSIGN(TimeSpan span,
                       read_duration(parts, "Expected window value", "Expected window unit"));
            metadata.window = span;
            break;
        }
        default:
            break;
        }
    }
    if (!expression_pair) return Err(grammar_error("Expected metric expression"));
    VOK_ASSIGN(Expression e, build_expression(*expression_pair));
    return AstNode(ast::Metric{std::move(name), std::move(e), std::move(metadata)});
}

ParseResult<AstNode> build_concept_change(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto name_pair = children.next();
    if (!name_pair) return Err(grammar_error("Expected concept change name"));
    ast::ConceptChange change;
    VOK_ASSIGN(change.name, build_name(*name_pair));
    while (auto child = children.next()) {
        if (child->rule() != grammar::Rule::concept_change_annotation) continue;
        grammar::DslPairs parts = child->children();
        auto key = parts.next();
        if (!key) return Err(grammar_error("Expected annotation key"));
        auto value = parts.next();
        if (!value) return Err(grammar_error("Expected annotation value"));
        switch (key->rule()) {
        case grammar::Rule::cc_from_version:
            change.from_version = pair_text(*value);
            break;
        case grammar::Rule::cc_to_version:
            change.to_version = pair_text(*value);
            break;
        case grammar::Rule::cc_migration_policy:
            change.migration_policy = pair_text(*value);
            break;
        case grammar::Rule::cc_breaking_change:
            change.breaking_change = value->as_str() == "true";
            break;
        default:
            break;
        }
    }
    if (change.from_version.empty())
        return Err(grammar_error("Missing cc_from_version annotation"));
    if (change.to_version.empty()) return Err(grammar_error("Missing cc_to_version annotation"));
    if (change.migration_policy.empty())
        return Err(grammar_error("Missing cc_migration_policy annotation"));
    return AstNode(std::move(change));
}

ParseResult<AstNode> build_unit_declaration(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    ast::UnitDeclaration unit;
    auto symbol = children.next();
    if (!symbol) return Err(grammar_error("Expected unit symbol"));
    VOK_ASSIGN(unit.symbol, parse_string_literal(*symbol));
    auto dimension = children.next();
    if (!dimension) return Err(grammar_error("Expected dimension name"));
    VOK_ASSIGN(unit.dimension, parse_string_literal(*dimension));
    auto factor = children.next();
    if (!factor) return Err(grammar_error("Expected factor"));
    VOK_ASSIGN(unit.factor, parse_decimal(*factor));
    auto base = children.next();
    if (!base) return Err(grammar_error("Expected base unit"));
    VOK_ASSIGN(unit.base_unit, parse_string_literal(*base));
    return AstNode(std::move(unit));
}

// ---- mappings and projections share their shape: a name, a target format, then rules that
// name a primitive and carry fields ----

struct NameAndTarget {
    std::string name;
    TargetFormat target;
};

ParseResult<NameAndTarget> read_name_and_target(grammar::DslPairs& children,
                                                const char* missing_name) {
    auto name = children.next();
    if (!name) return Err(grammar_error(missing_name));
    NameAndTarget result{};
    VOK_ASSIGN(result.name, parse_string_literal(*name));
    auto target = children.next();
    if (!target) return Err(grammar_error("Expected target format"));
    VOK_ASSIGN(result.target, parse_target_format(*target));
    return result;
}

Result<void, ParserError> read_primitive(grammar::DslPairs& parts, std::string& type,
                                         std::string& name) {
    auto primitive_type = parts.next();
    if (!primitive_type) return Err(grammar_error("Expected primitive type"));
    type = pair_text(*primitive_type);
    auto primitive_name = parts.next();
    if (!primitive_name) return Err(grammar_error("Expected primitive name"));
    VOK_ASSIGN(name, parse_string_literal(*primitive_name));
    return Ok();
}

// A field's key and value node.
ParseResult<std::pair<std::string, grammar::DslPair>> read_field(const grammar::DslPair& field) {
    grammar::DslPairs kv = field.children();
    auto key = kv.next();
    if (!key) return Err(grammar_error("Expected field key"));
    auto value = kv.next();
    if (!value) return Err(grammar_error("Expected field value"));
    return std::pair<std::string, grammar::DslPair>(pair_text(*key), *value);
}

ParseResult<json::Value> mapping_field_value(const grammar::DslPair& value) {
    switch (value.rule()) {
    case grammar::Rule::string_literal: {
        VOK_ASSIGN(std::string s, parse_string_literal(value));
        return json::Value(std::move(s));
    }
    case grammar::Rule::boolean:
        return json::Value(value.as_str() == "true");
    case grammar::Rule::object_literal:
        return build_object_literal(value);
    default:
        return Err(grammar_error("Unexpected mapping field value"));
    }
}

ParseResult<json::Value> projection_field_value(const grammar::DslPair& value) {
    if (value.rule() == grammar::Rule::string_literal) {
        VOK_ASSIGN(std::string s, parse_string_literal(value));
        return json::Value(std::move(s));
    }
    if (value.rule() != grammar::Rule::property_mapping)
        return Err(grammar_error("Unexpected projection field value"));
    json::Object mapping;
    grammar::DslPairs names = value.children();
    while (auto source = names.next()) {
        VOK_ASSIGN(std::string from, parse_string_literal(*source));
        auto target_name = names.next();
        if (!target_name) return Err(grammar_error("Expected value in property mapping"));
        VOK_ASSIGN(std::string to, parse_string_literal(*target_name));
        mapping.insert_or_assign(std::move(from), json::Value(std::move(to)));
    }
    return json::Value(std::move(mapping));
}

ParseResult<AstNode> build_mapping(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    VOK_ASSIGN(NameAndTarget head, read_name_and_target(children, "Expected mapping name"));
    ast::MappingDecl mapping{std::move(head.name), head.target, {}};
    while (auto rule_pair = children.next()) {
        if (rule_pair->rule() != grammar::Rule::mapping_rule) continue;
        grammar::DslPairs parts = rule_pair->children();
        MappingRule rule;
        VOK_TRY(read_primitive(parts, rule.primitive_type, rule.primitive_name));
        auto structure = parts.next();
        if (!structure) return Err(grammar_error("Expected target structure"));
        grammar::DslPairs fields = structure->children();
        auto target_type = fields.next();
        if (!target_type) return Err(grammar_error("Expected target type"));
        rule.target_type = pair_text(*target_type);
        while (auto field = fields.next()) {
            if (field->rule() != grammar::Rule::mapping_field) continue;
            VOK_ASSIGN(auto key_value, read_field(*field));
            VOK_ASSIGN(json::Value value, mapping_field_value(key_value.second));
            rule.fields.insert_or_assign(std::move(key_value.first), std::move(value));
        }
        mapping.rules.push_back(std::move(rule));
    }
    return AstNode(std::move(mapping));
}

ParseResult<AstNode> build_projection(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    VOK_ASSIGN(NameAndTarget head, read_name_and_target(children, "Expected projection name"));
    ast::ProjectionDecl projection{std::move(head.name), head.target, {}};
    while (auto rule_pair = children.next()) {
        if (rule_pair->rule() != grammar::Rule::projection_rule) continue;
        grammar::DslPairs parts = rule_pair->children();
        ProjectionOverride override_;
        VOK_TRY(read_primitive(parts, override_.primitive_type, override_.primitive_name));
        while (auto field = parts.next()) {
            if (field->rule() != grammar::Rule::projection_field) continue;
            VOK_ASSIGN(auto key_value, read_field(*field));
            VOK_ASSIGN(json::Value value, projection_field_value(key_value.second));
            override_.fields.insert_or_assign(std::move(key_value.first), std::move(value));
        }
        projection.overrides.push_back(std::move(override_));
    }
    return AstNode(std::move(projection));
}

ParseResult<AstNode> build_simple(const grammar::DslPair& pair) {
    grammar::DslPairs children = pair.children();
    auto first = children.next();
    switch (pair.rule()) {
    case grammar::Rule::pattern_decl: {
        if (!first) return Err(grammar_error("Expected pattern name"));
        ast::Pattern pattern;
        VOK_ASSIGN(pattern.name, build_name(*first));
        auto regex = children.next();
        if (!regex) return Err(grammar_error("Expected regex for pattern"));
        VOK_ASSIGN(pattern.regex, parse_string_literal(*regex));
        return AstNode(std::move(pattern));
    }
    case grammar::Rule::role_decl: {
        if (!first) return Err(grammar_error("Expected role name"));
        ast::Role role;
        VOK_ASSIGN(role.name, build_name(*first));
        while (auto child = children.next())
            if (child->rule() == grammar::Rule::identifier) role.domain = pair_text(*child);
        return AstNode(std::move(role));
    }
    default: { // dimension_decl
        if (!first) return Err(grammar_error("Expected dimension name"));
        ast::Dimension dimension;
        VOK_ASSIGN(dimension.name, parse_string_literal(*first));
        return AstNode(std::move(dimension));
    }
    }
}

} // namespace

ParseResult<Spanned> build_declaration(const grammar::DslPair& pair) {
    auto pos = pair.line_col();
    auto spanned = [&](AstNode node) { return Spanned{std::move(node), pos.line, pos.column}; };
    switch (pair.rule()) {
    case grammar::Rule::export_decl: {
        auto inner = pair.children().peek();
        if (!inner) return Err(grammar_error("Expected declaration after export"));
        VOK_ASSIGN(Spanned wrapped, build_declaration(*inner));
        return spanned(ast::Export{std::make_unique<Spanned>(std::move(wrapped))});
    }
    case grammar::Rule::declaration_inner: {
        auto inner = pair.children().peek();
        if (!inner) return Err(grammar_error("Empty declaration"));
        return build_declaration(*inner);
    }
    default:
        break;
    }
    VOK_ASSIGN(AstNode node, build_declaration_node(pair));
    return spanned(std::move(node));
}

ParseResult<AstNode> build_declaration_node(const grammar::DslPair& pair) {
    using Builder = ParseResult<AstNode> (*)(const grammar::DslPair&);
    Builder builder = nullptr;
    switch (pair.rule()) {
    case grammar::Rule::entity_decl:
        builder = build_entity;
        break;
    case grammar::Rule::resource_decl:
        builder = build_resource;
        break;
    case grammar::Rule::flow_decl:
        builder = build_flow;
        break;
    case grammar::Rule::relation_decl:
        builder = build_relation;
        break;
    case grammar::Rule::concept_change_decl:
        builder = build_concept_change;
        break;
    case grammar::Rule::instance_decl:
        builder = build_instance;
        break;
    case grammar::Rule::unit_decl:
        builder = build_unit_declaration;
        break;
    case grammar::Rule::policy_decl:
        builder = build_policy;
        break;
    case grammar::Rule::metric_decl:
        builder = build_metric;
        break;
    case grammar::Rule::mapping_decl:
        builder = build_mapping;
        break;
    case grammar::Rule::projection_decl:
        builder = build_projection;
        break;
    case grammar::Rule::pattern_decl:
    case grammar::Rule::role_decl:
    case grammar::Rule::dimension_decl:
        builder = build_simple;
        break;
    default:
        return Err(
            grammar_error("Unexpected rule: " + std::string(grammar::rule_name(pair.rule()))));
    }
    return builder(pair);
}

ParseResult<Ast> parse_source(std::string_view source) {
    VOK_ASSIGN(grammar::DslTree tree, parse_program(source));
    return build_ast(tree);
}

ParseResult<void> build_file_header(const grammar::DslPair& pair, FileMetadata& header,
                                    std::vector<ImportDecl>& imports) {
    for (const grammar::DslPair& item : pair.children()) {
        if (item.rule() == grammar::Rule::annotation) {
            VOK_TRY(read_header_annotation(item, header));
        } else if (item.rule() == grammar::Rule::import_decl) {
            VOK_ASSIGN(ImportDecl decl, read_import(item));
            imports.push_back(std::move(decl));
        }
    }
    return Ok();
}

namespace {

// build_ast over `tree`; with `giving_back` (the same tree, owned by the caller and not read
// afterwards), each top-level child's records are given back once it is built. The walk then reads
// no record behind the child it is on: the program pairs and their children's count are read first,
// and each child's end before its records go.
ParseResult<Ast> build_ast_of(const grammar::DslTree& tree, grammar::DslTree* giving_back) {
    Ast ast;
    std::vector<grammar::DslPairs> programs;
    size_t count = 0;
    for (const grammar::DslPair& top : tree.pairs()) {
        if (top.rule() != grammar::Rule::program) continue;
        programs.push_back(top.children());
        // Declarations are siblings: counting them is a walk over their records.
        for (const grammar::DslPair& sibling : top.children())
            count += sibling.rule() == grammar::Rule::declaration ? 1 : 0;
    }
    ast.declarations.reserve(count);
    for (grammar::DslPairs& children : programs) {
        while (const auto child = children.next()) {
            if (child->rule() == grammar::Rule::file_header) {
                FileMetadata header;
                std::vector<ImportDecl> imports;
                VOK_TRY(build_file_header(*child, header, imports));
                ast.metadata = std::move(header);
                ast.imports = std::move(imports);
            } else if (child->rule() == grammar::Rule::declaration) {
                for (const grammar::DslPair& decl : child->children()) {
                    poll_cancellation();
                    VOK_ASSIGN(Spanned spanned, build_declaration(decl));
                    ast.declarations.push_back(std::move(spanned));
                }
            }
            if (giving_back != nullptr) giving_back->release_before(child->end_index());
        }
    }
    return ast;
}

} // namespace

ParseResult<Ast> build_ast(const grammar::DslTree& tree) {
    return build_ast_of(tree, nullptr);
}

ParseResult<Ast> build_ast(grammar::DslTree&& tree) {
    grammar::DslTree owned = std::move(tree);
    return build_ast_of(owned, &owned);
}

} // namespace vok
