// NameTable: what the lowering has declared so far of one kind (entities, roles or resources),
// keyed by namespace and name, and how a reference to such a name is resolved.
//
// Flows and relations refer to entities, resources and roles by bare name. A name declared in the
// referring file's namespace wins; failing that, a name declared in exactly one other namespace is
// taken from there, and a name declared in several is ambiguous. Both lookups are hash lookups (the
// by-name index lists the namespaces of each name), so resolving every reference of a file stays
// linear in its size however many namespaces it spreads over.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "parser/token_readers.h"
#include "uuid/uuid.h"

namespace vok {

class NameTable {
public:
    bool contains(std::string_view namespace_name, std::string_view name) const;
    // The id recorded for exactly this namespace and name.
    std::optional<Uuid> find(std::string_view namespace_name, std::string_view name) const;
    // Room for `count` entries, so that filling the table never rehashes.
    void reserve(size_t count);
    // Records a pair that is not yet present; the lowering refuses duplicates before it gets here.
    void insert(std::string_view namespace_name, std::string_view name, const Uuid& id);

    // Every (namespace, id) recorded under this name, in insertion order.
    const std::vector<std::pair<std::string, Uuid>>* find_by_name(std::string_view name) const;

private:
    struct QualifiedName {
        std::string namespace_name;
        std::string name;
    };
    struct QualifiedView {
        std::string_view namespace_name;
        std::string_view name;
    };
    struct QualifiedHash {
        using is_transparent = void;
        size_t operator()(const QualifiedView& key) const noexcept;
        size_t operator()(const QualifiedName& key) const noexcept {
            return (*this)(QualifiedView{key.namespace_name, key.name});
        }
    };
    struct QualifiedEqual {
        using is_transparent = void;
        template <class A, class B> bool operator()(const A& a, const B& b) const noexcept {
            return std::string_view(a.namespace_name) == std::string_view(b.namespace_name) &&
                   std::string_view(a.name) == std::string_view(b.name);
        }
    };
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    std::unordered_map<QualifiedName, Uuid, QualifiedHash, QualifiedEqual> by_qualified_name_;
    std::unordered_map<std::string, std::vector<std::pair<std::string, Uuid>>, NameHash,
                       std::equal_to<>>
        by_name_;
};

// The id that `name` refers to from `namespace_name`: the entry of that namespace if there is
// one, else the only entry of that name in any namespace; nothing when the name is unknown (the
// caller reports that in its own words). Several candidates and none in `namespace_name` is a
// Validation error listing their namespaces in byte order.
ParseResult<std::optional<Uuid>> resolve_reference(const NameTable& table, std::string_view name,
                                                   std::string_view namespace_name);

} // namespace vok
