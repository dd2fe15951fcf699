// NameTable: what the lowering has declared so far of one kind (entities, roles or resources),
// keyed by namespace and name, and how a reference to such a name is resolved.
//
// Flows and relations refer to entities, resources and roles by bare name. A name declared in the
// referring file's namespace wins; failing that, a name declared in exactly one other namespace is
// taken from there, and a name declared in several is ambiguous.
//
// The table keeps almost nothing of its own: it reads the records of the graph that the lowering
// fills (which holds exactly the records the lowering declared). A record's id is the concept id
// of its namespace and name, so the pair resolves by computing that id and checking that the
// record stored under it carries the same pair (two different pairs can share an id text, as
// "a" + "::" + "b::c" and "a::b" + "::" + "c" do, and must not be taken for each other). The
// graph's first-by-name index answers the bare name. Only names declared in more than one
// namespace get an entry here, listing their namespaces, which is all an ambiguity needs; it is
// filled on the first ambiguity check, so a file whose references all resolve in their own
// namespace never builds it (nor the graph's index of names).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "concept_id/concept_id.h"
#include "graph/graph.h"
#include "parser/token_readers.h"
#include "uuid/uuid.h"

namespace vok {

template <class Record> class NameTable {
public:
    using Store = const IndexedMap<Uuid, Record>& (Graph::*)() const;
    using FirstByName = std::optional<Uuid> (Graph::*)(std::string_view) const;

    // Reads the records of `graph` through `store` (Graph::entities, say) and `first_by_name`
    // (Graph::find_entity_by_name). Every record of that store counts as declared.
    NameTable(const Graph& graph, Store store, FirstByName first_by_name)
        : graph_(graph), store_(store), first_by_name_(first_by_name) {}

    bool contains(std::string_view namespace_name, std::string_view name) const {
        return holds(concept_id_for(namespace_name, name), namespace_name, name);
    }
    // Whether (namespace, name) is recorded, given its concept id (for callers that have it).
    bool holds(const Uuid& id, std::string_view namespace_name, std::string_view name) const {
        const Record* record = (graph_.*store_)().find(id);
        return record != nullptr && record->name == name && record->namespace_ == namespace_name;
    }
    // The id recorded for exactly this namespace and name.
    std::optional<Uuid> find(std::string_view namespace_name, std::string_view name) const {
        const Uuid id = concept_id_for(namespace_name, name);
        if (!holds(id, namespace_name, name)) return std::nullopt;
        return id;
    }
    // The id of the first record of this name, in any namespace.
    std::optional<Uuid> first_by_name(std::string_view name) const {
        return (graph_.*first_by_name_)(name);
    }
    // The namespaces of a name declared in more than one; nullptr for a name declared in at most
    // one. The records added since the last call are looked over first: a record that is not the
    // first of its name spreads the name.
    const std::vector<std::string>* namespaces_of(std::string_view name) const {
        const auto& store = (graph_.*store_)();
        for (; scanned_ < store.size(); ++scanned_) {
            const Record& record = store.begin()[scanned_].second;
            const Uuid first = *(graph_.*first_by_name_)(record.name);
            if (first == record.id) continue;
            auto [entry, created] = spread_.try_emplace(record.name);
            if (created) entry->second.push_back(store.find(first)->namespace_);
            entry->second.push_back(record.namespace_);
        }
        auto found = spread_.find(name);
        return found == spread_.end() ? nullptr : &found->second;
    }

private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    const Graph& graph_;
    Store store_;
    FirstByName first_by_name_;
    // Names of more than one record, with their namespaces; filled when first asked for.
    mutable std::unordered_map<std::string, std::vector<std::string>, NameHash, std::equal_to<>>
        spread_;
    mutable size_t scanned_ = 0; // records of the store already looked over
};

// The error of a name declared in several namespaces, none of them `namespace_name`.
ParserError ambiguous_reference(std::string_view name, const std::vector<std::string>& namespaces);

// The id that `name` refers to from `namespace_name`: the entry of that namespace if there is
// one, else the only entry of that name in any namespace; nothing when the name is unknown (the
// caller reports that in its own words). Several candidates and none in `namespace_name` is a
// Validation error listing their namespaces in byte order.
template <class Record>
ParseResult<std::optional<Uuid>> resolve_reference(const NameTable<Record>& table,
                                                   std::string_view name,
                                                   std::string_view namespace_name) {
    if (auto id = table.find(namespace_name, name)) return std::optional<Uuid>(*id);
    std::optional<Uuid> first = table.first_by_name(name);
    if (!first) return std::optional<Uuid>();
    if (const auto* namespaces = table.namespaces_of(name)) {
        return Err(ambiguous_reference(name, *namespaces));
    }
    return first;
}

} // namespace vok
