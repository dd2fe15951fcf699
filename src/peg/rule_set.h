// A set of grammar rules in the order they were first added, for attempt tracking.
//
// The tracked attempts at the farthest position are reported as a set, and only two things about
// their multiset are ever looked at: how many a rule's children added (to decide whether one child
// stands for the rule), and which of them to drop when a rule replaces its children's attempts
// with itself. The parser counts additions on its own and keeps each rule here once; dropping
// "everything added since index i" stays exact because a rule added again while already present
// was present before i too. So the lists stay as small as the grammar, however often the same
// failure is found.
#pragma once

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <vector>

namespace vok::peg {

template <class R> class RuleSet {
    static_assert(sizeof(R) == 1, "membership is a bitset over one-byte rule codes");

public:
    size_t size() const { return rules_.size(); }
    const R* data() const { return rules_.data(); }
    const R& operator[](size_t i) const { return rules_[i]; }

    void add(R rule) {
        const auto code = static_cast<size_t>(rule);
        if (present_.test(code)) return;
        present_.set(code);
        rules_.push_back(rule);
    }

    // Keeps the first `size` rules.
    void truncate(size_t size) {
        while (rules_.size() > size) {
            present_.reset(static_cast<size_t>(rules_.back()));
            rules_.pop_back();
        }
    }

    void clear() { truncate(0); }

    // The rules in enumeration order; the set is left empty.
    std::vector<R> take_sorted() {
        std::vector<R> sorted = std::move(rules_);
        std::sort(sorted.begin(), sorted.end());
        rules_.clear();
        present_.reset();
        return sorted;
    }

private:
    std::vector<R> rules_;
    std::bitset<256> present_;
};

} // namespace vok::peg
