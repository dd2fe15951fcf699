// The ordered facts of one evaluation; see fact_store.h.
#include "authority/fact_store.h"

#include <utility>

#include "common/dropping.h"
#include "common/growing_records.h"

namespace vok::authority {

int trust_rank(SourceClass source_class) {
    switch (source_class) {
    case SourceClass::SystemOfRecord:
        return 0;
    case SourceClass::Attested:
        return 1;
    case SourceClass::ManualApproval:
        return 2;
    case SourceClass::RuntimeObserved:
        return 3;
    case SourceClass::Derived:
        return 4;
    case SourceClass::CallerSupplied:
        return 5;
    case SourceClass::UnknownSource:
        return 6;
    }
    return 6;
}

SourceClass weaker_trust(SourceClass a, SourceClass b) {
    return trust_rank(b) > trust_rank(a) ? b : a;
}

SourceClass trust_class(const StoredFact& stored) {
    const FactEnvelope& fact = stored.fact;
    if (!fact.lineage) return fact.source_class;
    if (stored.origin == FactOrigin::Derived) return fact.lineage->effective_trust;
    return weaker_trust(fact.lineage->effective_trust, fact.source_class);
}

const StoredFact* FactStore::first(std::string_view path) const {
    const auto found = index_.find(path);
    return found == index_.end() ? nullptr : &facts_[found->second.front()];
}

std::span<const size_t> FactStore::positions(std::string_view path) const {
    const auto found = index_.find(path);
    if (found == index_.end()) return {};
    return found->second;
}

void FactStore::append(FactEnvelope fact, FactOrigin origin) {
    const size_t position = facts_.size();
    // A stop while the list grows leaves the store as it was, without this fact.
    make_record_room(facts_);
    facts_.push_back({std::move(fact), origin});
    index_[facts_.back().fact.path].push_back(position);
}

void FactStore::replace_first_or_append(FactEnvelope fact, FactOrigin origin) {
    const auto found = index_.find(std::string_view(fact.path));
    if (found == index_.end()) return append(std::move(fact), origin);
    facts_[found->second.front()] = {std::move(fact), origin};
}

void FactStore::drop_in_steps() {
    vok::drop_in_steps(facts_);
    vok::drop_in_steps(index_);
}

} // namespace vok::authority
