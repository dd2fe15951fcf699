// GraphError: why the graph refused a record.
//
// Every refusal leaves the graph unchanged. `to_string` is the only place the texts live; callers
// quote them after prefixes of their own ("Failed to add entity: ", "Add flow error: "). The
// duplicate-id text is shared with the lowering, which checks the collections it fills directly
// ("Metric with ID ... already exists").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/error_variant.h"
#include "uuid/uuid.h"

namespace vok {

// The kinds of record a graph stores; the rows are in record_kind.def.
enum class RecordKind : uint8_t {
#define VOK_RECORD_KIND(Name) Name,
#include "graph/record_kind.def"
};

inline constexpr std::array kRecordKindNames = {
#define VOK_RECORD_KIND(Name) std::string_view(#Name),
#include "graph/record_kind.def"
};

struct GraphErrorAlternatives {
    // "<Kind> with ID <id> already exists"
    struct DuplicateId {
        RecordKind kind;
        Uuid id;
    };
    struct SourceEntityNotFound {};
    struct TargetEntityNotFound {};
    struct ResourceNotFound {};
    struct EntityNotFound {};
    struct DestinationEntityNotFound {};
    struct PatternAlreadyDeclared {
        std::string name;
        std::string namespace_;
    };

    using Variant =
        std::variant<DuplicateId, SourceEntityNotFound, TargetEntityNotFound, ResourceNotFound,
                     EntityNotFound, DestinationEntityNotFound, PatternAlreadyDeclared>;
};

struct GraphError : ErrorVariant<GraphErrorAlternatives> {
    using ErrorVariant::ErrorVariant;

    std::string to_string() const;
};

} // namespace vok
