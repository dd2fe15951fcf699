#include "authority/evidence_store.h"

#include <utility>

namespace vok::authority {

EvidenceStore::Append EvidenceStore::append(std::shared_ptr<const DecisionTrace> trace) {
    std::lock_guard lock(mutex_);
    if (poisoned_) return Append::Poisoned;
    try {
        traces_.push_back(std::move(trace));
    } catch (...) {
        poisoned_ = true;
        throw;
    }
    return Append::Stored;
}

void EvidenceStore::poison() {
    std::lock_guard lock(mutex_);
    poisoned_ = true;
}

bool EvidenceStore::poisoned() const {
    std::lock_guard lock(mutex_);
    return poisoned_;
}

size_t EvidenceStore::size() const {
    std::lock_guard lock(mutex_);
    return traces_.size();
}

std::vector<std::shared_ptr<const DecisionTrace>> EvidenceStore::traces() const {
    std::lock_guard lock(mutex_);
    return traces_;
}

} // namespace vok::authority
