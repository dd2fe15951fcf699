// EvidenceStore: the in-memory list of decision traces that an authority environment keeps, one
// per decision made against it.
//
// The store is shared by reference count (an environment and whatever evaluation is appending to
// it) and guarded by one lock, held only for a single append. Like a lock whose holder died
// inside it, the store becomes poisoned when an append fails half-way (the only way is running out
// of memory): from then on nothing more is stored, and the evaluation decides what a decision
// without a stored trace may still be returned as. The store only grows.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "authority/decision_trace.h"

namespace vok::authority {

class EvidenceStore {
public:
    enum class Append : bool { Stored, Poisoned };

    // Stores `trace` at the end, unless the store is poisoned; then nothing is stored. An
    // exception while storing poisons the store and propagates. A stored trace never changes, so
    // the store shares it with the evaluation that returns it instead of copying it.
    Append append(std::shared_ptr<const DecisionTrace> trace);

    // Marks the store unusable, as a failed append does. For evaluations that fail while holding
    // the store, and for tests of what a decision does without a stored trace.
    void poison();
    bool poisoned() const;

    size_t size() const;
    // The traces, oldest first; readable even when poisoned.
    std::vector<std::shared_ptr<const DecisionTrace>> traces() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const DecisionTrace>> traces_;
    bool poisoned_ = false;
};

} // namespace vok::authority
