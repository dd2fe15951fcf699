// Declaration rules of the VOK DSL grammar: one top-level declaration each, their annotation
// forms, the braced bodies of instances, mappings and projections, and the reserved words.
//
// Every rule here is normal except declaration_keyword, whose only use is the negative lookahead
// that keeps a resource's bare unit word from swallowing the keyword of the next declaration.
#include <array>
#include <string_view>

#include "parser/grammar/grammar_rules.h"
#include "parser/grammar/lexical_scan.h"
#include "peg/combinators.h"

namespace vok::grammar {

using namespace peg::combinators;

using scan::scan_declaration_keyword;

namespace {

// ^"v" ~ version: the version clause (optional where it is used; whitespace may follow the v).
constexpr auto version_clause = seq(ilit("v"), version);

// "@" ~ ((ea_replaces ~ name ~ (^"v" ~ version)?) | (ea_changes ~ string_array)), the shared body
// of entity and resource annotations.
constexpr auto replaces_form = seq(ea_replaces, name, opt(version_clause));
constexpr auto changes_form = seq(ea_changes, string_array);

} // namespace

// ---- declarations ----

bool declaration(DslState& s) {
    return define(s, Rule::declaration, choice(export_decl, declaration_inner));
}

bool export_decl(DslState& s) {
    return define(s, Rule::export_decl, seq(ilit("export"), declaration_inner));
}

bool declaration_inner(DslState& s) {
    return define(s, Rule::declaration_inner,
                  choice(dimension_decl, unit_decl, entity_decl, resource_decl, flow_decl,
                         pattern_decl, role_decl, relation_decl, instance_decl, policy_decl,
                         concept_change_decl, metric_decl, mapping_decl, projection_decl));
}

// ---- entities and resources ----

bool entity_decl(DslState& s) {
    return define(s, Rule::entity_decl,
                  seq(ilit("entity"), name, opt(version_clause), star(entity_annotation),
                      opt(seq(in_keyword, identifier))));
}

bool entity_annotation(DslState& s) {
    return define(s, Rule::entity_annotation, seq(lit("@"), choice(replaces_form, changes_form)));
}

bool ea_replaces(DslState& s) {
    return define(s, Rule::ea_replaces, ilit("replaces"));
}

bool ea_changes(DslState& s) {
    return define(s, Rule::ea_changes, ilit("changes"));
}

bool resource_decl(DslState& s) {
    return define(
        s, Rule::resource_decl,
        seq(ilit("resource"), name, star(resource_annotation),
            opt(choice(seq(identifier, in_keyword, identifier), seq(in_keyword, identifier),
                       seq(not_ahead(declaration_keyword), identifier)))));
}

bool resource_annotation(DslState& s) {
    return define(s, Rule::resource_annotation, seq(lit("@"), choice(replaces_form, changes_form)));
}

bool declaration_keyword(DslState& s) {
    return define_atomic(s, Rule::declaration_keyword, [](DslState& state) {
        const char* end = scan_declaration_keyword(state.cursor(), state.input_end());
        if (end == nullptr) return false;
        state.advance_to(end);
        return true;
    });
}

// ---- flows ----

bool flow_decl(DslState& s) {
    return define(s, Rule::flow_decl,
                  seq(ilit("flow"), string_literal, star(flow_annotation), ilit("from"),
                      string_literal, ilit("to"), string_literal,
                      opt(seq(ilit("quantity"), number))));
}

bool flow_annotation(DslState& s) {
    return define(
        s, Rule::flow_annotation,
        seq(lit("@"), choice(replaces_form, changes_form, seq(identifier, annotation_value))));
}

// ---- patterns, roles and relations ----

bool pattern_decl(DslState& s) {
    return define(s, Rule::pattern_decl,
                  seq(ilit("pattern"), name, ilit("matches"), string_literal));
}

bool role_decl(DslState& s) {
    return define(s, Rule::role_decl, seq(ilit("role"), name, opt(seq(in_keyword, identifier))));
}

bool relation_decl(DslState& s) {
    return define(s, Rule::relation_decl,
                  seq(ilit("relation"), name, ilit("subject"), lit(":"), string_literal,
                      ilit("predicate"), lit(":"), string_literal, ilit("object"), lit(":"),
                      string_literal,
                      opt(seq(ilit("via"), lit(":"), ilit("flow"), string_literal))));
}

// ---- instances ----

bool instance_decl(DslState& s) {
    return define(
        s, Rule::instance_decl,
        seq(ilit("instance"), identifier, ilit("of"), string_literal, opt(instance_body)));
}

bool instance_body(DslState& s) {
    return define(s, Rule::instance_body,
                  seq(lit("{"), star(seq(instance_field, opt(lit(",")))), lit("}")));
}

bool instance_field(DslState& s) {
    return define(s, Rule::instance_field, seq(identifier, lit(":"), expression));
}

// ---- dimensions and units ----

bool dimension_decl(DslState& s) {
    return define(s, Rule::dimension_decl, seq(ilit("dimension"), string_literal));
}

bool unit_decl(DslState& s) {
    return define(s, Rule::unit_decl,
                  seq(ilit("unit"), string_literal, ilit("of"), string_literal, ilit("factor"),
                      number, ilit("base"), string_literal));
}

// ---- policies ----

bool policy_decl(DslState& s) {
    return define(s, Rule::policy_decl,
                  seq(ilit("policy"), identifier,
                      opt(seq(ilit("per"), policy_kind, policy_modality, ilit("priority"), number)),
                      star(policy_annotation), opt(version_clause), ilit("as"), lit(":"),
                      expression));
}

bool policy_kind(DslState& s) {
    return define(s, Rule::policy_kind,
                  choice(ilit("Constraint"), ilit("Derivation"), ilit("Obligation")));
}

bool policy_modality(DslState& s) {
    return define(s, Rule::policy_modality,
                  choice(ilit("Obligation"), ilit("Prohibition"), ilit("Permission")));
}

bool policy_annotation(DslState& s) {
    return define(s, Rule::policy_annotation,
                  seq(lit("@"), policy_annotation_name, choice(string_literal, string_array)));
}

bool policy_annotation_name(DslState& s) {
    return define(s, Rule::policy_annotation_name, choice(ilit("rationale"), ilit("tags")));
}

// ---- concept changes ----

bool concept_change_decl(DslState& s) {
    return define(s, Rule::concept_change_decl,
                  seq(ilit("ConceptChange"), name, star(concept_change_annotation)));
}

bool concept_change_annotation(DslState& s) {
    return define(
        s, Rule::concept_change_annotation,
        seq(lit("@"),
            choice(seq(cc_from_version, ilit("v"), version), seq(cc_to_version, ilit("v"), version),
                   seq(cc_migration_policy, identifier), seq(cc_breaking_change, boolean))));
}

bool cc_from_version(DslState& s) {
    return define(s, Rule::cc_from_version, ilit("from_version"));
}

bool cc_to_version(DslState& s) {
    return define(s, Rule::cc_to_version, ilit("to_version"));
}

bool cc_migration_policy(DslState& s) {
    return define(s, Rule::cc_migration_policy, ilit("migration_policy"));
}

bool cc_breaking_change(DslState& s) {
    return define(s, Rule::cc_breaking_change, ilit("breaking_change"));
}

// ---- metrics ----

bool metric_decl(DslState& s) {
    return define(
        s, Rule::metric_decl,
        seq(ilit("metric"), name, ilit("as"), lit(":"), expression, star(metric_annotation)));
}

bool metric_annotation(DslState& s) {
    return define(s, Rule::metric_annotation,
                  seq(lit("@"), choice(seq(ma_refresh_interval, number, string_literal),
                                       seq(ma_unit, string_literal), seq(ma_threshold, number),
                                       seq(ma_severity, string_literal), seq(ma_target, number),
                                       seq(ma_window, number, string_literal))));
}

bool ma_refresh_interval(DslState& s) {
    return define(s, Rule::ma_refresh_interval, ilit("refresh_interval"));
}

bool ma_unit(DslState& s) {
    return define(s, Rule::ma_unit, ilit("unit"));
}

bool ma_threshold(DslState& s) {
    return define(s, Rule::ma_threshold, ilit("threshold"));
}

bool ma_severity(DslState& s) {
    return define(s, Rule::ma_severity, ilit("severity"));
}

bool ma_target(DslState& s) {
    return define(s, Rule::ma_target, ilit("target"));
}

bool ma_window(DslState& s) {
    return define(s, Rule::ma_window, ilit("window"));
}

// ---- mappings ----

bool mapping_decl(DslState& s) {
    return define(s, Rule::mapping_decl,
                  seq(ilit("Mapping"), string_literal, ilit("for"), target_format, lit("{"),
                      star(mapping_rule), lit("}")));
}

bool target_format(DslState& s) {
    return define(s, Rule::target_format,
                  choice(ilit("calm"), ilit("kg"), ilit("sbvr"), ilit("protobuf"), ilit("proto")));
}

bool mapping_rule(DslState& s) {
    return define(s, Rule::mapping_rule,
                  seq(primitive_type, string_literal, lit("->"), target_structure));
}

bool primitive_type(DslState& s) {
    return define(
        s, Rule::primitive_type,
        choice(ilit("Entity"), ilit("Resource"), ilit("Flow"), ilit("Policy"), ilit("Instance")));
}

bool target_structure(DslState& s) {
    return define(s, Rule::target_structure,
                  seq(identifier, lit("{"), star(seq(mapping_field, opt(lit(",")))), lit("}")));
}

bool mapping_field(DslState& s) {
    return define(s, Rule::mapping_field,
                  seq(identifier, lit(":"), choice(string_literal, object_literal, boolean)));
}

// Object literals nest, so the rule is one of the engine's remembered rules (which also make sure
// of stack room as they recurse).
bool object_literal(DslState& s) {
    return define_remembered(
        s, Rule::object_literal,
        seq(lit("{"), star(seq(string_literal, lit(":"), annotation_value, opt(lit(",")))),
            lit("}")));
}

// ---- projections ----

bool projection_decl(DslState& s) {
    return define(s, Rule::projection_decl,
                  seq(ilit("Projection"), string_literal, ilit("for"), target_format, lit("{"),
                      star(projection_rule), lit("}")));
}

bool projection_rule(DslState& s) {
    return define(s, Rule::projection_rule,
                  seq(primitive_type, string_literal, lit("{"),
                      star(seq(projection_field, opt(lit(",")))), lit("}")));
}

bool projection_field(DslState& s) {
    return define(s, Rule::projection_field,
                  seq(identifier, lit(":"), choice(string_literal, property_mapping)));
}

bool property_mapping(DslState& s) {
    return define(s, Rule::property_mapping,
                  seq(lit("{"), star(seq(string_literal, lit("->"), string_literal, opt(lit(",")))),
                      lit("}")));
}

} // namespace vok::grammar
