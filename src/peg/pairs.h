// The result of a successful parse: a flat queue of pair records over the input, read as a tree.
//
// Every matched (non-silent, non-inner-atomic) rule leaves one record, pushed when the rule is
// entered (so records are in pre-order) and completed when it succeeds: its span and the index just
// past its last descendant. This is the usual Start/End token queue with each End folded into its
// Start, which halves the memory. A pair is just the index of its record, so walking the tree
// allocates nothing: the children of a pair are the records from the next index up to its `next`,
// and a child's sibling starts at that child's `next`. Texts are views into the caller's input,
// never copies.
//
// Lifetime: a ParseTree borrows the input text, which must outlive it and every Pair taken from
// it. Pairs point into the tree's heap block, so moving the ParseTree keeps them valid; destroying
// it does not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "peg/line_index.h"
#include "peg/record_buffer.h"

namespace vok::peg {

struct PairRecord {
    uint32_t start; // byte offset of the first character
    uint32_t end;   // byte offset just past the match
    uint32_t next;  // index just past the last descendant: the next sibling, if any
    uint16_t rule;  // enumeration value of the rule that matched
};

namespace detail {
struct TreeData {
    TreeData(std::string_view text, RecordBuffer<PairRecord> queue)
        : input(text), records(std::move(queue)), lines(text) {}
    std::string_view input;
    RecordBuffer<PairRecord> records;
    LineIndex lines; // built at the first position lookup; every later one shares it
};
} // namespace detail

template <class R> class Pairs;

// A lightweight view of one matched rule; copy it freely.
template <class R> class Pair {
public:
    Pair(const detail::TreeData* tree, uint32_t start_index) : tree_(tree), index_(start_index) {}

    R rule() const { return static_cast<R>(record().rule); }
    size_t start() const { return record().start; }
    size_t end() const { return record().end; }
    std::string_view as_str() const { return tree_->input.substr(start(), end() - start()); }
    // Position of the pair's first character: line and column, both 1-based, column in characters.
    LineCol line_col() const { return tree_->lines.line_col(start()); }
    Pairs<R> children() const { return Pairs<R>(tree_, index_ + 1, record().next); }
    // The input the tree was parsed from.
    std::string_view input() const { return tree_->input; }
    // Where the pair lies in its tree (ParseTree::pair_at gives it back).
    uint32_t index() const { return index_; }
    // The index just past the pair's last descendant: its next sibling's, if it has one.
    uint32_t end_index() const { return record().next; }

    bool operator==(const Pair& other) const {
        return tree_ == other.tree_ && index_ == other.index_;
    }

private:
    const PairRecord& record() const { return tree_->records[index_]; }

    const detail::TreeData* tree_;
    uint32_t index_;
};

// A run of sibling pairs in text order. It is both a range (for range-for) and a cursor:
// next() hands out the front pair and advances, as the tree builders consume children one by one.
template <class R> class Pairs {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Pair<R>;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Pair<R>;

        iterator() = default;
        iterator(const detail::TreeData* tree, uint32_t index) : tree_(tree), index_(index) {}
        Pair<R> operator*() const { return Pair<R>(tree_, index_); }
        iterator& operator++() {
            index_ = tree_->records[index_].next;
            return *this;
        }
        iterator operator++(int) {
            iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const iterator& other) const { return index_ == other.index_; }

    private:
        const detail::TreeData* tree_ = nullptr;
        uint32_t index_ = 0;
    };

    Pairs(const detail::TreeData* tree, uint32_t first, uint32_t end)
        : tree_(tree), next_(first), end_(end) {}

    iterator begin() const { return iterator(tree_, next_); }
    iterator end() const { return iterator(tree_, end_); }
    bool empty() const { return next_ >= end_; }
    size_t size() const { return static_cast<size_t>(std::distance(begin(), end())); }

    std::optional<Pair<R>> peek() const {
        if (empty()) return std::nullopt;
        return Pair<R>(tree_, next_);
    }
    std::optional<Pair<R>> next() {
        if (empty()) return std::nullopt;
        Pair<R> pair(tree_, next_);
        next_ = tree_->records[next_].next;
        return pair;
    }

private:
    const detail::TreeData* tree_;
    uint32_t next_;
    uint32_t end_;
};

// Appends to `to` the `count` records of a subtree whose first record stood at index `first` of
// another buffer, their links moved with them; returns the index the subtree now starts at.
inline uint32_t append_subtree(RecordBuffer<PairRecord>& to, const PairRecord* records,
                               uint32_t count, uint32_t first) {
    const auto at = static_cast<uint32_t>(to.size());
    to.append(records, count);
    // Indexes past the end of the subtree shift with it (unsigned arithmetic wraps back).
    const uint32_t shift = at - first;
    for (uint32_t i = at; i < at + count; ++i)
        to[i].next += shift;
    return at;
}

// Owns the pair records of one successful parse.
template <class R> class ParseTree {
public:
    ParseTree(std::string_view input, RecordBuffer<PairRecord> records)
        : data_(std::make_unique<detail::TreeData>(input, std::move(records))) {}

    // A tree over the same input whose top-level pairs are copies of the subtrees of `roots`
    // (pairs of this tree, by index), in the order given; each entry of `roots` is then replaced
    // by where its copy starts. A reader that visits a few of a large tree's subtrees, in an
    // order of its own, then finds them side by side in that order and can give their memory
    // back as it goes (release_before).
    ParseTree gather(std::vector<uint32_t>& roots) const {
        const RecordBuffer<PairRecord>& from = data_->records;
        size_t total = 0;
        for (const uint32_t root : roots)
            total += from[root].next - root;
        RecordBuffer<PairRecord> records(total);
        for (uint32_t& root : roots)
            root = append_subtree(records, &from[root], from[root].next - root, root);
        return ParseTree(data_->input, std::move(records));
    }

    // The pair at `index` (Pair::index).
    Pair<R> pair_at(uint32_t index) const { return Pair<R>(data_.get(), index); }

    // Gives back the memory of the pairs before `index` where the records are large enough to be
    // worth it (RecordBuffer::release_before): those pairs, and pairs taken from them, must not be
    // read again.
    void release_before(uint32_t index) { data_->records.release_before(index); }

    // The pairs the start rule produced (for a normal or atomic start rule, exactly one).
    Pairs<R> pairs() const {
        return Pairs<R>(data_.get(), 0, static_cast<uint32_t>(data_->records.size()));
    }
    // The first top-level pair, if the start rule produced any.
    std::optional<Pair<R>> root() const { return pairs().peek(); }
    std::string_view input() const { return data_->input; }
    LineCol line_col(size_t offset) const { return data_->lines.line_col(offset); }
    // Number of pairs in the whole tree.
    size_t pair_count() const { return data_->records.size(); }

private:
    std::unique_ptr<detail::TreeData> data_;
};

} // namespace vok::peg
