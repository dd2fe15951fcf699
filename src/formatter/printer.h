// The printer: a syntax tree written back as source in the one canonical layout.
//
// Keywords, spacing, quoting and blank lines are fixed; indentation follows the configuration.
// Everything the tree holds is written, in spellings the grammar reads back to the same tree, so
// formatting loses nothing but comments (the header block excepted) and the original layout.
//
// Indentation is not written while printing: each indented line records how many levels it
// needs, and `finish` sizes the final text first and only then writes the indent units into it.
// An indent width chosen by the caller can be arbitrarily large, so the size is checked before
// anything that large is allocated; that check is the printer's only way to fail.
//
// A Printer is used for one run: print_program once, then finish once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "formatter/format_config.h"
#include "formatter/format_error.h"
#include "parser/ast.h"

namespace vok {

class Printer {
public:
    explicit Printer(const FormatConfig& config) : config_(config) {}

    // `comments` are the header comment texts to write first (empty when none are kept).
    void print_program(const Ast& ast, const std::vector<std::string>& comments);

    // The finished text, indentation included.
    Result<std::string, FormatError> finish() &&;

private:
    // Text writers.
    void raw(std::string_view text) { out_ += text; }
    void quoted(std::string_view text);
    void newline() { out_ += '\n'; }
    void indent();
    void open_line();
    void close();
    void next_line();
    // `enclosing_rules`: the grammar rules open around the expression rule in the declaration.
    void expression(const Expression& e, size_t enclosing_rules);

    // Declarations.
    void declaration(const AstNode& node);
    void annotation_lines(const AnnotationMap& annotations);
    // " in " and the domain, when there is one.
    void domain_clause(const std::optional<std::string>& domain);
    // The head of a mapping or projection: keyword, name, target format and "{"; then its end.
    void open_block(std::string_view keyword, const std::string& name, TargetFormat target);
    void close_block();
    void seconds(const TimeSpan& span);
    void print(const ast::Export& d);
    void print(const ast::Entity& d);
    void print(const ast::Resource& d);
    void print(const ast::Flow& d);
    void print(const ast::Pattern& d);
    void print(const ast::Role& d);
    void print(const ast::Relation& d);
    void print(const ast::Dimension& d);
    void print(const ast::UnitDeclaration& d);
    void print(const ast::Policy& d);
    void print(const ast::Instance& d);
    void print(const ast::ConceptChange& d);
    void print(const ast::Metric& d);
    void print(const ast::MappingDecl& d);
    void print(const ast::ProjectionDecl& d);
    void fields(const json::Object& fields, bool property_mappings);

    // Where an indent goes and how many levels deep it is.
    struct IndentMark {
        size_t offset;
        size_t levels;
    };

    const FormatConfig config_;
    std::string out_;
    std::vector<IndentMark> indents_;
    size_t level_ = 0;
    size_t exports_open_ = 0; // export clauses around the declaration being printed
};

} // namespace vok
