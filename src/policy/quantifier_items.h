// The items quantifiers and aggregations range over, and the collections that hold them.
//
// A collection is an array literal or one of the graph's collections named by a variable. Items
// of graph collections are JSON objects built from the records (fixed keys first, then the open
// attributes that do not collide with them). Building such an object costs a map, an id text per
// reference and a copy of every attribute, while most conditions read one or two keys; so an item
// is passed around as an `ItemRef` that answers single keys straight from the record and builds
// the whole object only when something asks for it. Both forms give the same values.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/function_ref.h"
#include "common/result.h"
#include "expression/expression.h"
#include "graph/graph.h"
#include "policy/policy_error.h"
#include "json/value.h"

namespace vok {

// Rows in policy_enums.def.
enum class CollectionKind : uint8_t {
#define VOK_COLLECTION_KIND(Name, collection_name, item_word) Name,
#include "policy/policy_enums.def"
};

// The collection a variable names, compared case-sensitively.
std::optional<CollectionKind> collection_named(std::string_view name);
// The variable an aggregation's filter binds to one item of the collection: "flow" for "flows".
std::string_view item_word(CollectionKind kind);

// One item: a JSON value (an element of an array literal, or a group's array) or a graph record.
// Holds pointers only; the value or record must outlive it.
class ItemRef {
public:
    static ItemRef of_value(const json::Value& value) { return ItemRef(nullptr, &value); }
    static ItemRef of_record(CollectionKind kind, const void* record) {
        return ItemRef(record, nullptr, kind);
    }

    // The whole item as a JSON value.
    json::Value materialize(const Graph& graph) const;
    // item[key]; nothing when the key is missing or the item is not an object.
    std::optional<json::Value> field(const Graph& graph, std::string_view key) const;
    // The id behind item[key] when that key always holds the text of a record's id ("id",
    // "from_entity", ...); two such keys have equal texts exactly when their ids are equal.
    const Uuid* id_field(std::string_view key) const;

private:
    ItemRef(const void* record, const json::Value* value, CollectionKind kind = {})
        : record_(record), value_(value), kind_(kind) {}

    const void* record_;
    const json::Value* value_;
    CollectionKind kind_;
};

// The JSON object of one flow: ids, the quantity as a float, then the attributes.
json::Value flow_as_quantifier_item(const Flow& flow);

// A JSON number as a double (any form), or nothing for any other value.
std::optional<double> value_as_f64(const json::Value& value);

// What a collection expression designates: a graph collection or the elements of an array.
struct CollectionSource {
    std::optional<CollectionKind> kind;
    const json::Array* array = nullptr; // when not a graph collection
};

// Reads a collection expression (already substituted): "Unknown collection: <name>" for another
// variable, "Collection expression must be a variable or array literal" for anything else. The
// array of a literal is borrowed from `collection`.
Result<CollectionSource, PolicyError> collection_source(const Expression& collection);

// Calls `visit` for each item in collection order; stops at the first error it returns. Polls for
// cancellation before each item, so every walk over a collection can be interrupted.
Result<void, PolicyError>
for_each_item(const CollectionSource& source, const Graph& graph,
              FunctionRef<Result<void, PolicyError>(const ItemRef&)> visit);

// The items as JSON values, in collection order.
Result<std::vector<json::Value>, PolicyError> resolve_collection(const Expression& collection,
                                                                 const Graph& graph);

} // namespace vok
