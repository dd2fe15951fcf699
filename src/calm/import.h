// The CALM import: a CALM document read into a new semantic graph.
//
// Nodes and relationships refer to nodes by their "unique-id", while the records made for them get
// ids of their own (name-based or random), so the import keeps a table from the document's ids to
// the records'. Nodes are read in two passes, so that an instance node may come before the entity
// and resource it names; relationships are read last and may name any node.
//
// The first failure ends the import and the partly built graph is dropped: a failed import returns
// nothing. The process-wide unit registry is only read.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "common/error_variant.h"
#include "common/result.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "parser/parser_error.h"

namespace vok::calm {

// Why an import failed: the text is not one JSON document, or a later step refused it. The texts
// are those after the caller's prefixes ("Invalid JSON: ", "Import error: ").
struct CalmImportErrorAlternatives {
    // Rows in import_error_kind.def.
    enum class Kind : uint8_t {
#define VOK_CALM_IMPORT_ERROR_KIND(Name) Name,
#include "calm/import_error_kind.def"
    };
    struct InvalidJson {
        std::string message;
    };
    struct Import {
        std::string message;
    };
    using Variant = VariantOfRows<void
#define VOK_CALM_IMPORT_ERROR_KIND(Name) , Name
#include "calm/import_error_kind.def"
                                  >::type;
};

struct CalmImportError : ErrorVariant<CalmImportErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    // The reader's or the importer's text, without the caller's prefix.
    const std::string& message() const;
    std::string to_string() const { return message(); }
};

Result<Graph, CalmImportError> import_calm(std::string_view calm_json);

// A "vok:expression" text read with the DSL's expression rule: exactly one expression, nothing
// after it but white space.
Result<Expression, ParserError> parse_calm_expression(std::string_view text);

} // namespace vok::calm
