// One function per grammar rule, named as the rule (internal to the grammar library).
//
// Each function matches its rule at the state's position with the engine's semantics: it leaves
// the rule's pair (unless silent or inside an atomic rule), takes part in attempt tracking, and on
// failure leaves the position and the pair records as it found them. The definitions are split by
// layer: lexical rules and file structure, declarations, expressions.
#pragma once

#include <array>

#include "parser/grammar/dsl_state.h"
#include "parser/grammar/rule.h"

namespace vok::grammar {

bool EOI(DslState& s);
bool WHITESPACE(DslState& s);
bool COMMENT(DslState& s);
bool in_keyword(DslState& s);
bool program(DslState& s);
bool file_header(DslState& s);
bool import_decl(DslState& s);
bool import_specifier(DslState& s);
bool import_named(DslState& s);
bool import_item(DslState& s);
bool import_wildcard(DslState& s);
bool export_decl(DslState& s);
bool annotation(DslState& s);
bool annotation_name(DslState& s);
bool declaration(DslState& s);
bool declaration_inner(DslState& s);
bool entity_decl(DslState& s);
bool entity_annotation(DslState& s);
bool ea_replaces(DslState& s);
bool ea_changes(DslState& s);
bool resource_decl(DslState& s);
bool resource_annotation(DslState& s);
bool declaration_keyword(DslState& s);
bool flow_decl(DslState& s);
bool flow_annotation(DslState& s);
bool pattern_decl(DslState& s);
bool role_decl(DslState& s);
bool relation_decl(DslState& s);
bool concept_change_decl(DslState& s);
bool concept_change_annotation(DslState& s);
bool cc_from_version(DslState& s);
bool cc_to_version(DslState& s);
bool cc_migration_policy(DslState& s);
bool cc_breaking_change(DslState& s);
bool instance_decl(DslState& s);
bool instance_body(DslState& s);
bool instance_field(DslState& s);
bool dimension_decl(DslState& s);
bool unit_decl(DslState& s);
bool policy_decl(DslState& s);
bool policy_kind(DslState& s);
bool policy_modality(DslState& s);
bool policy_annotation(DslState& s);
bool policy_annotation_name(DslState& s);
bool string_array(DslState& s);
bool annotation_value(DslState& s);
bool version(DslState& s);
bool expression(DslState& s);
bool or_expr(DslState& s);
bool and_expr(DslState& s);
bool not_expr(DslState& s);
bool comparison_expr(DslState& s);
bool comparison_op(DslState& s);
bool additive_expr(DslState& s);
bool add_op(DslState& s);
bool multiplicative_expr(DslState& s);
bool mul_op(DslState& s);
bool unary_expr(DslState& s);
bool cast_expr(DslState& s);
bool primary_expr(DslState& s);
bool group_by_expr(DslState& s);
bool aggregation_expr(DslState& s);
bool aggregation_comprehension(DslState& s);
bool window_clause(DslState& s);
bool aggregation_simple(DslState& s);
bool aggregate_fn(DslState& s);
bool quantified_expr(DslState& s);
bool quantifier(DslState& s);
bool collection(DslState& s);
bool member_access(DslState& s);
bool literal(DslState& s);
bool time_literal(DslState& s);
bool interval_literal(DslState& s);
bool quantity_literal(DslState& s);
bool name(DslState& s);
bool multiline_string(DslState& s);
bool string_literal(DslState& s);
bool string_content(DslState& s);
bool escape_sequence(DslState& s);
bool number(DslState& s);
bool boolean(DslState& s);
bool instance_reference(DslState& s);
bool identifier(DslState& s);
bool metric_decl(DslState& s);
bool metric_annotation(DslState& s);
bool ma_refresh_interval(DslState& s);
bool ma_unit(DslState& s);
bool ma_threshold(DslState& s);
bool ma_severity(DslState& s);
bool ma_target(DslState& s);
bool ma_window(DslState& s);
bool mapping_decl(DslState& s);
bool target_format(DslState& s);
bool mapping_rule(DslState& s);
bool primitive_type(DslState& s);
bool target_structure(DslState& s);
bool mapping_field(DslState& s);
bool object_literal(DslState& s);
bool projection_decl(DslState& s);
bool projection_rule(DslState& s);
bool projection_field(DslState& s);
bool property_mapping(DslState& s);

using RuleFunction = bool (*)(DslState&);

// An atomic rule whose body is a byte scanner (lexical_scan.h): one pair, moved to the end of the
// scanner's match.
template <const char* (*Scanner)(const char*, const char*)>
bool scanned_rule(DslState& s, Rule rule) {
    return s.rule(rule, [&] {
        return s.atomic([&] {
            const char* end = Scanner(s.cursor(), s.input_end());
            if (end == nullptr) return false;
            s.advance_to(end);
            return true;
        });
    });
}

// The rule functions indexed by their enumeration value.
inline constexpr std::array<RuleFunction, kRuleCount> kRuleFunctions = {
    EOI,
    WHITESPACE,
    COMMENT,
    in_keyword,
    program,
    file_header,
    import_decl,
    import_specifier,
    import_named,
    import_item,
    import_wildcard,
    export_decl,
    annotation,
    annotation_name,
    declaration,
    declaration_inner,
    entity_decl,
    entity_annotation,
    ea_replaces,
    ea_changes,
    resource_decl,
    resource_annotation,
    declaration_keyword,
    flow_decl,
    flow_annotation,
    pattern_decl,
    role_decl,
    relation_decl,
    concept_change_decl,
    concept_change_annotation,
    cc_from_version,
    cc_to_version,
    cc_migration_policy,
    cc_breaking_change,
    instance_decl,
    instance_body,
    instance_field,
    dimension_decl,
    unit_decl,
    policy_decl,
    policy_kind,
    policy_modality,
    policy_annotation,
    policy_annotation_name,
    string_array,
    annotation_value,
    version,
    expression,
    or_expr,
    and_expr,
    not_expr,
    comparison_expr,
    comparison_op,
    additive_expr,
    add_op,
    multiplicative_expr,
    mul_op,
    unary_expr,
    cast_expr,
    primary_expr,
    group_by_expr,
    aggregation_expr,
    aggregation_comprehension,
    window_clause,
    aggregation_simple,
    aggregate_fn,
    quantified_expr,
    quantifier,
    collection,
    member_access,
    literal,
    time_literal,
    interval_literal,
    quantity_literal,
    name,
    multiline_string,
    string_literal,
    string_content,
    escape_sequence,
    number,
    boolean,
    instance_reference,
    identifier,
    metric_decl,
    metric_annotation,
    ma_refresh_interval,
    ma_unit,
    ma_threshold,
    ma_severity,
    ma_target,
    ma_window,
    mapping_decl,
    target_format,
    mapping_rule,
    primitive_type,
    target_structure,
    mapping_field,
    object_literal,
    projection_decl,
    projection_rule,
    projection_field,
    property_mapping,
};

} // namespace vok::grammar
