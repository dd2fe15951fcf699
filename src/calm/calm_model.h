// The CALM document: the records that the export writes and the import reads.
//
// One definition serves both directions. The writer turns a CalmModel into a generic JSON value,
// whose objects keep their keys in byte order, so the printed document lists members sorted at
// every level whatever order the records declare them in. The reader is lenient in the usual way of
// the system's record readers (unknown members skipped, the array form of a record accepted) and
// strict about what it needs: a missing required member or one of the wrong JSON type fails the
// whole document, naming the member.
//
// Two members are untagged unions, told apart by shape alone: a relationship type is a flow (an
// object holding "flow" details) or a plain name, and parties are source/destination or
// owner/owned. The reader tries the forms in that order; the writer only ever writes
// source/destination parties.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "json/deserializer.h"
#include "json/value.h"

namespace vok::calm {

enum class CalmNodeType : uint8_t { Actor, Location, Resource, Instance, Constraint };

// The texts of the node types, in enumeration order; matched exactly by the reader.
inline constexpr std::array<std::string_view, 5> kCalmNodeTypeNames = {
    "actor", "location", "resource", "instance", "constraint"};

inline std::string_view name_of(CalmNodeType type) {
    return kCalmNodeTypeNames[static_cast<size_t>(type)];
}

inline constexpr std::string_view kDefaultCalmVersion = "2.0";

struct CalmMetadata {
    bool exported = true;
    std::string version;
    std::optional<std::string> timestamp;
};

struct CalmNode {
    std::string unique_id;
    CalmNodeType node_type = CalmNodeType::Actor;
    std::string name;
    std::optional<std::string> namespace_;
    json::Object metadata;
};

struct FlowDetails {
    std::string resource;
    // Exact decimal text; the document never carries quantities as JSON numbers.
    std::string quantity;
};

// `Flow` details or the `Simple` name of the relationship.
using RelationshipType = std::variant<FlowDetails, std::string>;

struct SourceDestination {
    std::string source;
    std::string destination;
};

struct OwnerOwned {
    std::string owner;
    std::string owned;
};

using Parties = std::variant<SourceDestination, OwnerOwned>;

struct CalmRelationship {
    std::string unique_id;
    RelationshipType relationship_type;
    Parties parties;
};

struct CalmModel {
    std::string version{kDefaultCalmVersion};
    CalmMetadata metadata;
    std::vector<CalmNode> nodes;
    std::vector<CalmRelationship> relationships;
};

// Reads a whole document; errors are the JSON reader's decoding messages.
Result<CalmModel, json::Error> read_calm_model(json::Deserializer& de);

// The document as a generic value, ready to print; the records' texts are moved into it.
json::Value to_json(CalmModel model);

} // namespace vok::calm
