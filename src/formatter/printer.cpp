// The Printer: a syntax tree written as canonical source; see printer.h. Values are spelled by
// source_text.h and expressions by expression_source.h so that the grammar reads back exactly
// what the tree holds; the indentation asked for is checked against the text size first.
#include "formatter/printer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#include "common/ascii.h"
#include "common/cancellation.h"
#include "formatter/expression_source.h"
#include "formatter/source_text.h"

namespace vok {

namespace {

// The grammar rules open around an expression: program, declaration, declaration_inner and the
// declaration (policy_decl, metric_decl); an instance field adds instance_body and instance_field.
constexpr size_t kRulesAroundDeclarationExpression = 4;
constexpr size_t kRulesAroundInstanceField = 6;

// Source words of the closed sets, expanded from their definition lists. Policy kinds and
// modalities are written by their names.
constexpr std::string_view kSeverityWords[] = {
#define VOK_METRIC_SEVERITY(Name, source_word) source_word,
#include "primitives/primitive_enums.def"
};
constexpr std::string_view kTargetWords[] = {
#define VOK_TARGET_FORMAT(Name, display_name, source_word) source_word,
#include "primitives/primitive_enums.def"
};

template <class E, size_t N> std::string_view word(const std::string_view (&words)[N], E value) {
    return words[static_cast<size_t>(value)];
}

constexpr uint64_t kMaxIndentationBytes = uint64_t{1} << 30;

bool is_version(std::string_view text) {
    int groups = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == start) return false;
        if (++groups == 3) return i == text.size();
        if (i == text.size() || text[i] != '.') return false;
        ++i;
    }
}

// A bare unit word "in" followed by white space would be read as the start of a domain clause.
bool is_in_word(std::string_view text) {
    return equals_ignoring_ascii_case(text, "in");
}

} // namespace

void Printer::quoted(std::string_view text) {
    source_text::append_quoted(out_, text);
}

void Printer::indent() {
    if (level_ > 0) indents_.push_back({out_.size(), level_});
}

void Printer::open_line() {
    newline();
    ++level_;
    indent();
}

void Printer::close() {
    if (level_ > 0) --level_;
}

void Printer::next_line() {
    newline();
    indent();
}

void Printer::expression(const Expression& e, size_t enclosing_rules) {
    // An exported declaration reads through one rule more (export_decl).
    append_expression_source(out_, e, enclosing_rules + exports_open_);
}

void Printer::print_program(const Ast& ast, const std::vector<std::string>& comments) {
    for (const std::string& comment : comments) {
        raw("// ");
        raw(comment);
        newline();
    }
    if (!comments.empty()) newline();

    bool header = false;
    const auto header_line = [&](std::string_view name, const std::optional<std::string>& value) {
        if (!value) return;
        raw(name);
        quoted(*value);
        newline();
        header = true;
    };
    header_line("@namespace ", ast.metadata.namespace_);
    header_line("@version ", ast.metadata.version);
    header_line("@owner ", ast.metadata.owner);
    header_line("@profile ", ast.metadata.profile);
    if (header && !ast.imports.empty()) newline();

    std::vector<const ImportDecl*> imports;
    for (const ImportDecl& import : ast.imports)
        imports.push_back(&import);
    if (config_.sort_imports) {
        std::stable_sort(imports.begin(), imports.end(), [](const auto* a, const auto* b) {
            return a->from_module < b->from_module;
        });
    }
    for (const ImportDecl* import : imports) {
        raw("import ");
        if (import->specifier.kind == ImportSpecifier::Kind::Named) {
            raw("{ ");
            bool first = true;
            for (const ImportItem& item : import->specifier.items) {
                if (!first) raw(", ");
                first = false;
                raw(item.name);
                if (item.alias) {
                    raw(" as ");
                    raw(*item.alias);
                }
            }
            raw(" }");
        } else {
            raw("* as ");
            raw(import->specifier.alias);
        }
        raw(" from ");
        quoted(import->from_module);
        newline();
    }

    const bool gap_before_first = ast.metadata.namespace_.has_value() || !ast.imports.empty();
    for (size_t i = 0; i < ast.declarations.size(); ++i) {
        poll_cancellation();
        if (i > 0 || gap_before_first) newline();
        declaration(ast.declarations[i].node);
    }
    if (out_.empty() || out_.back() != '\n') newline();
}

void Printer::declaration(const AstNode& node) {
    std::visit([&](const auto& d) { print(d); }, node);
}

void Printer::annotation_lines(const AnnotationMap& annotations) {
    const json::Value* replaces = annotations.find("replaces");
    if (replaces && replaces->is_string()) {
        open_line();
        raw("@replaces ");
        // The tree holds name and version joined by " v"; split there only when a version really
        // follows, so that a name that itself contains " v" reads back unchanged.
        const std::string& text = replaces->as_string();
        size_t at = text.rfind(" v");
        if (at != std::string::npos && is_version(std::string_view(text).substr(at + 2))) {
            quoted(std::string_view(text).substr(0, at));
            raw(" v");
            raw(std::string_view(text).substr(at + 2));
        } else {
            quoted(text);
        }
        close();
    }
    const json::Value* changes = annotations.find("changes");
    if (changes && changes->is_array()) {
        open_line();
        raw("@changes [");
        bool first = true;
        for (const json::Value& item : changes->as_array()) {
            if (!first) raw(", ");
            first = false;
            if (item.is_string()) quoted(item.as_string());
        }
        raw("]");
        close();
    }
    // Free annotations (flows only), and a replaces or changes value of another shape, which the
    // grammar only accepts in the free form.
    for (const auto& [key, value] : annotations) {
        if (&value == replaces && value.is_string()) continue;
        if (&value == changes && value.is_array()) continue;
        open_line();
        raw("@");
        raw(source_text::identifier_for_key(key));
        raw(" ");
        source_text::append_value(out_, value);
        close();
    }
}

void Printer::seconds(const TimeSpan& span) {
    raw(std::to_string(span.seconds));
    raw(" \"seconds\"");
}

void Printer::print(const ast::Export& d) {
    raw("export ");
    ++exports_open_;
    declaration(d.declaration->node);
    --exports_open_;
}

void Printer::domain_clause(const std::optional<std::string>& domain) {
    if (!domain) return;
    raw(" in ");
    raw(*domain);
}

void Printer::print(const ast::Entity& d) {
    raw("Entity ");
    quoted(d.name);
    if (d.version) {
        raw(" v");
        raw(*d.version);
    }
    annotation_lines(d.annotations);
    domain_clause(d.domain);
    newline();
}

void Printer::print(const ast::Resource& d) {
    raw("Resource ");
    quoted(d.name);
    annotation_lines(d.annotations);
    if (d.unit_name) {
        raw(" ");
        raw(*d.unit_name);
        // Without a domain, "in" and the white space after it would begin a domain clause that
        // swallows the next declaration's keyword; an empty comment keeps the blank away.
        if (!d.domain && is_in_word(*d.unit_name)) raw("//");
    }
    domain_clause(d.domain);
    newline();
}

void Printer::print(const ast::Flow& d) {
    raw("Flow ");
    quoted(d.resource_name);
    annotation_lines(d.annotations);
    raw(" from ");
    quoted(d.from_entity);
    raw(" to ");
    quoted(d.to_entity);
    if (d.quantity) {
        raw(" quantity ");
        raw(d.quantity->to_string());
    }
    newline();
}

void Printer::print(const ast::Pattern& d) {
    raw("Pattern ");
    quoted(d.name);
    raw(" matches ");
    quoted(d.regex);
    newline();
}

void Printer::print(const ast::Role& d) {
    raw("Role ");
    quoted(d.name);
    domain_clause(d.domain);
    newline();
}

void Printer::print(const ast::Relation& d) {
    raw("Relation ");
    quoted(d.name);
    open_line();
    raw("subject: ");
    quoted(d.subject_role);
    next_line();
    raw("predicate: ");
    quoted(d.predicate);
    next_line();
    raw("object: ");
    quoted(d.object_role);
    if (d.via_flow) {
        next_line();
        raw("via: flow ");
        quoted(*d.via_flow);
    }
    close();
    newline();
}

void Printer::print(const ast::Dimension& d) {
    raw("Dimension ");
    quoted(d.name);
    newline();
}

void Printer::print(const ast::UnitDeclaration& d) {
    raw("Unit ");
    quoted(d.symbol);
    raw(" of ");
    quoted(d.dimension);
    raw(" factor ");
    raw(d.factor.to_string());
    raw(" base ");
    quoted(d.base_unit);
    newline();
}

void Printer::print(const ast::Policy& d) {
    raw("Policy ");
    raw(d.name);
    const ast::PolicyMetadata& m = d.metadata;
    if (m.kind && m.modality && m.priority) {
        raw(" per ");
        raw(kPolicyKindNames[static_cast<size_t>(*m.kind)]);
        raw(" ");
        raw(kDeonticModalityNames[static_cast<size_t>(*m.modality)]);
        raw(" priority ");
        raw(std::to_string(*m.priority));
    }
    if (m.rationale) {
        open_line();
        raw("@rationale ");
        quoted(*m.rationale);
        close();
    }
    if (!m.tags.empty()) {
        open_line();
        raw("@tags [");
        for (size_t i = 0; i < m.tags.size(); ++i) {
            if (i > 0) raw(", ");
            quoted(m.tags[i]);
        }
        raw("]");
        close();
    }
    if (d.version) {
        open_line();
        raw("v");
        raw(*d.version);
        close();
    }
    open_line();
    raw("as: ");
    expression(d.expression, kRulesAroundDeclarationExpression);
    close();
    newline();
}

void Printer::print(const ast::Instance& d) {
    raw("Instance ");
    raw(d.name);
    raw(" of ");
    quoted(d.entity_type);
    if (!d.fields.empty()) {
        raw(" {");
        newline();
        ++level_;
        size_t left = d.fields.size();
        for (const auto& [name, value] : d.fields) {
            indent();
            raw(name);
            raw(": ");
            expression(value, kRulesAroundInstanceField);
            if (--left > 0) raw(",");
            newline();
        }
        close();
        indent();
        raw("}");
    }
    newline();
}

void Printer::print(const ast::ConceptChange& d) {
    raw("ConceptChange ");
    quoted(d.name);
    open_line();
    raw("@from_version v");
    raw(d.from_version);
    next_line();
    raw("@to_version v");
    raw(d.to_version);
    next_line();
    raw("@migration_policy ");
    raw(d.migration_policy);
    next_line();
    raw("@breaking_change ");
    raw(d.breaking_change ? "true" : "false");
    close();
    newline();
}

void Printer::print(const ast::Metric& d) {
    raw("Metric ");
    quoted(d.name);
    raw(" as:");
    open_line();
    expression(d.expression, kRulesAroundDeclarationExpression);
    const ast::MetricMetadata& m = d.metadata;
    if (m.refresh_interval) {
        next_line();
        raw("@refresh_interval ");
        seconds(*m.refresh_interval);
    }
    if (m.unit) {
        next_line();
        raw("@unit ");
        quoted(*m.unit);
    }
    if (m.threshold) {
        next_line();
        raw("@threshold ");
        raw(m.threshold->to_string());
    }
    if (m.severity) {
        next_line();
        raw("@severity ");
        quoted(word(kSeverityWords, *m.severity));
    }
    if (m.target) {
        next_line();
        raw("@target ");
        raw(m.target->to_string());
    }
    if (m.window) {
        next_line();
        raw("@window ");
        seconds(*m.window);
    }
    close();
    newline();
}

void Printer::fields(const json::Object& fields, bool property_mappings) {
    raw(" { ");
    bool first = true;
    for (const auto& [key, value] : fields) {
        if (!first) raw(", ");
        first = false;
        // Field names are identifiers in the grammar, so they are written bare.
        raw(key);
        raw(": ");
        if (property_mappings && value.is_object()) {
            source_text::append_property_mapping(out_, value.as_object());
        } else {
            source_text::append_value(out_, value);
        }
    }
    raw(" }");
}

void Printer::open_block(std::string_view keyword, const std::string& name, TargetFormat target) {
    raw(keyword);
    quoted(name);
    raw(" for ");
    raw(word(kTargetWords, target));
    raw(" {");
    newline();
    ++level_;
}

void Printer::close_block() {
    close();
    indent();
    raw("}");
    newline();
}

void Printer::print(const ast::MappingDecl& d) {
    open_block("Mapping ", d.name, d.target);
    for (const MappingRule& rule : d.rules) {
        indent();
        raw(rule.primitive_type);
        raw(" ");
        quoted(rule.primitive_name);
        raw(" -> ");
        raw(rule.target_type);
        fields(rule.fields, false);
        newline();
    }
    close_block();
}

void Printer::print(const ast::ProjectionDecl& d) {
    open_block("Projection ", d.name, d.target);
    for (const ProjectionOverride& rule : d.overrides) {
        indent();
        raw(rule.primitive_type);
        raw(" ");
        quoted(rule.primitive_name);
        fields(rule.fields, true);
        newline();
    }
    close_block();
}

Result<std::string, FormatError> Printer::finish() && {
    const uint64_t unit = config_.use_tabs ? 1 : config_.indent_width;
    const char fill = config_.use_tabs ? '\t' : ' ';
    uint64_t levels = 0;
    for (const IndentMark& mark : indents_)
        levels += mark.levels;
    uint64_t extra = 0;
    uint64_t total = 0;
    if (__builtin_mul_overflow(levels, unit, &extra) ||
        __builtin_add_overflow(uint64_t{out_.size()}, extra, &total)) {
        return Err(FormatError::OutputTooLarge{std::nullopt});
    }
    if (extra == 0) return std::move(out_);
    // The width is the caller's number and may be absurd. Indentation beyond a gigabyte (or four
    // times the text itself, for enormous sources) is never a real layout, and refusing it here,
    // before allocating, matters: on an overcommitting system an allocation that large may
    // succeed and only fail, fatally, when the spaces are written into it.
    const uint64_t indentation_limit = std::max<uint64_t>(kMaxIndentationBytes, 4 * out_.size());
    const uint64_t size_limit = std::min<uint64_t>(std::string().max_size(),
                                                   uint64_t{std::numeric_limits<ptrdiff_t>::max()});
    if (extra > indentation_limit || total > size_limit)
        return Err(FormatError::OutputTooLarge{total});
    std::string text;
    try {
        text.reserve(static_cast<size_t>(total));
    } catch (const std::bad_alloc&) {
        return Err(FormatError::OutputTooLarge{total});
    } catch (const std::length_error&) {
        return Err(FormatError::OutputTooLarge{total});
    }
    size_t copied = 0;
    for (const IndentMark& mark : indents_) {
        text.append(out_, copied, mark.offset - copied);
        text.append(static_cast<size_t>(mark.levels * unit), fill);
        copied = mark.offset;
    }
    text.append(out_, copied, std::string::npos);
    return text;
}

} // namespace vok
