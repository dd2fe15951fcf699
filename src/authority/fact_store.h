// FactStore: the facts one evaluation knows, in order: the caller facts made from the request's
// context, then the trusted envelopes, then the derived facts.
//
// A path may occur more than once; every reader takes the first fact of a path, or scans the
// facts of a path in store order for the first that meets its test. A hash index from path to the
// positions of its facts keeps both lookups free of scans over the whole store, so thousands of
// facts cost no quadratic work. Positions never move: a fact is only appended or replaced in
// place.
//
// Each fact remembers how it entered the store, because its trust class depends on it: a fact the
// engine derived is as trusted as its lineage says, while a lineage that came in with an envelope
// is the sender's own claim and may only lower the envelope's trust (`trust_class`).
//
// The store belongs to the running evaluation, never to the environment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "authority/enumerations.h"
#include "authority/fact_envelope.h"

namespace vok::authority {

enum class FactOrigin : uint8_t {
    Caller,  // made from the request's context
    Trusted, // an envelope of the fact list that passed the trust checks
    Derived, // made by a transform of the environment
};

struct StoredFact {
    FactEnvelope fact;
    FactOrigin origin = FactOrigin::Caller;
};

// Position of a class in the trust order, strongest first: system_of_record 0, attested 1,
// manual_approval 2, runtime_observed 3, derived 4, caller_supplied 5, unknown_source 6. It is
// not the order of the enumeration's values.
int trust_rank(SourceClass source_class);
// The weaker of two classes in the trust order.
SourceClass weaker_trust(SourceClass a, SourceClass b);

// The class a fact is trusted as, for transform inputs and for fact requirements. Without a
// lineage: its `source_class`. A derived fact: its lineage's `effective_trust`. An envelope with a
// lineage: the weaker of the lineage's `effective_trust` and its `source_class`, so a lineage the
// sender wrote can lower the envelope's trust but never raise it.
SourceClass trust_class(const StoredFact& stored);

class FactStore {
public:
    // Every fact, in store order.
    const std::vector<StoredFact>& facts() const { return facts_; }
    size_t size() const { return facts_.size(); }
    bool empty() const { return facts_.empty(); }

    // The first fact whose path equals `path` byte for byte, or nullptr.
    const StoredFact* first(std::string_view path) const;
    // The positions in `facts()` of every fact of `path`, ascending; valid until the store
    // changes.
    std::span<const size_t> positions(std::string_view path) const;

    void append(FactEnvelope fact, FactOrigin origin);
    // Replaces the first fact of the same path in place, keeping its position; appends when the
    // path is new.
    void replace_first_or_append(FactEnvelope fact, FactOrigin origin);

    // Empties the store a fact at a time, polling for cancellation: a store of many facts takes
    // long to free (common/dropping.h).
    void drop_in_steps();

private:
    // Heterogeneous lookup, so that finding a path allocates nothing.
    struct PathHash {
        using is_transparent = void;
        size_t operator()(std::string_view path) const {
            return std::hash<std::string_view>{}(path);
        }
    };

    std::vector<StoredFact> facts_;
    std::unordered_map<std::string, std::vector<size_t>, PathHash, std::equal_to<>> index_;
};

} // namespace vok::authority
