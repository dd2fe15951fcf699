// Derived facts: every transform of the configuration turns facts already in the fact store into
// one derived fact, as trusted as its weakest input, with a lineage that says how it was made.
//
// A transform computes nothing of its own: the derived value is its single input's value, or the
// array of its input values. All transforms read the store as the trust checks left it, and the
// derived facts are appended only after the last one has run, so no transform sees another's
// output, and a reader that takes the first fact of a path finds a caller or trusted fact before a
// derived one.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "authority/authority_error.h"
#include "authority/clock.h"
#include "authority/derived_fact_lineage.h"
#include "authority/environment.h"
#include "authority/fact_store.h"

namespace vok::authority {

// The derived fact of `transform` over the first store fact of each input path, and its lineage;
// nothing when some input path has no fact. Reads the clock once, for the fact's `observed_at`,
// when it makes one.
struct DerivedFact {
    FactEnvelope fact;
    DerivedFactLineage lineage;
};
std::optional<DerivedFact> derive_fact(const FactTransform& transform, const FactStore& store,
                                       Clock& clock);

// Runs the configuration's transforms in list order, each through the environment's registry
// under id + "@" + version, appends the derived facts to `store` and returns their lineages in
// the order made. A key that is not exactly two parts around one "@", or that names no registered
// transform, fails the whole step and leaves `store` unchanged.
Result<std::vector<DerivedFactLineage>, AuthorityError>
derive_facts(const AuthorityEnvironment& environment, FactStore& store, Clock& clock);

} // namespace vok::authority
