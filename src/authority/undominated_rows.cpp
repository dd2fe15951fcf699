// Undominated rows; the definitions behind undominated_rows.h.
#include "authority/undominated_rows.h"

#include <algorithm>
#include <bit>
#include <span>

#include "common/cancellation.h"
#include "common/invariant.h"
#include "common/position_table.h"

namespace vok::authority {

namespace {

using Keys = std::span<const uint32_t>;

// The rows with each distinct (column, score) pair replaced by a key. Keys are numbered by column
// and, within a column, from the highest score down, so a row becomes an ascending list of keys,
// and the rows that score at least `s` on column `c` are those holding a key from the first key
// of `c` to the key of (c, s).
struct KeyedRows {
    std::vector<uint32_t> keys;         // every row's keys, one row after another
    std::vector<size_t> offsets;        // row i is keys[offsets[i]] up to keys[offsets[i + 1]]
    std::vector<uint32_t> column_start; // by key: the first key of its column
    size_t columns = 0;                 // how many distinct columns the keys fall in

    size_t size() const { return offsets.size() - 1; }
    Keys row(size_t i) const { return {keys.data() + offsets[i], offsets[i + 1] - offsets[i]}; }
};

// Scores of 0 are left out. The distinct pairs are few beside the entries as a rule (a score
// counts a policy's keys), so they are gathered through a hash index and only they are sorted.
KeyedRows keyed_rows(const std::vector<SparseScores>& rows) {
    using Pair = std::pair<uint32_t, uint32_t>;
    const auto hash = [](const Pair& pair) {
        return PositionTable::fold((uint64_t{pair.first} << 32 | pair.second) *
                                   0x9E3779B97F4A7C15u);
    };
    KeyedRows out;
    out.offsets.reserve(rows.size() + 1);
    std::vector<Pair> pairs; // in the order found
    PositionTable found;
    for (const SparseScores& row : rows) {
        out.offsets.push_back(out.keys.size());
        for (const Pair& pair : row) {
            poll_cancellation();
            if (pair.second == 0) continue;
            const size_t at = found.insert(hash(pair), pairs.size(),
                                           [&](size_t other) { return pairs[other] == pair; });
            if (at == pairs.size()) pairs.push_back(pair);
            out.keys.push_back(static_cast<uint32_t>(at));
        }
    }
    out.offsets.push_back(out.keys.size());

    // Each pair as one number, the column above the score's complement (higher scores first),
    // beside the number it was found as: sorted by value, not through the numbers.
    std::vector<std::pair<uint64_t, uint32_t>> by_key(pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        poll_cancellation();
        by_key[i] = {uint64_t{pairs[i].first} << 32 | ~pairs[i].second, static_cast<uint32_t>(i)};
    }
    std::sort(by_key.begin(), by_key.end());
    std::vector<uint32_t> key_of(pairs.size());
    out.column_start.resize(pairs.size());
    for (size_t k = 0; k < by_key.size(); ++k) {
        key_of[by_key[k].second] = static_cast<uint32_t>(k);
        const bool same_column = k > 0 && by_key[k].first >> 32 == by_key[k - 1].first >> 32;
        out.column_start[k] = same_column ? out.column_start[k - 1] : static_cast<uint32_t>(k);
        if (!same_column) ++out.columns;
    }
    for (uint32_t& key : out.keys) {
        poll_cancellation();
        key = key_of[key];
    }
    return out;
}

// A row's place in the order of dense vectors, greatest first: at the first column where two rows
// differ, the higher score comes first (a missing column scores 0). As key lists: the smaller key
// at the first difference, and a list before its own prefixes. A row that dominates another comes
// before it, and equal rows end up side by side.
struct Placed {
    uint64_t head; // the first two keys, a missing one as UINT32_MAX (above every key)
    size_t row;
};

std::vector<Placed> greatest_first(const KeyedRows& keyed) {
    std::vector<Placed> order(keyed.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const Keys row = keyed.row(i);
        const uint64_t first = row.empty() ? UINT32_MAX : row[0];
        order[i] = {first << 32 | (row.size() < 2 ? UINT32_MAX : row[1]), i};
    }
    // Most pairs differ in their heads; only the others are compared through their keys.
    std::sort(order.begin(), order.end(), [&](const Placed& a, const Placed& b) {
        poll_cancellation();
        if (a.head != b.head) return a.head < b.head;
        const Keys x = keyed.row(a.row), y = keyed.row(b.row);
        const auto [i, j] = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
        if (i != x.end() && j != y.end()) return *i < *j;
        return x.size() > y.size();
    });
    return order;
}

// Whether row `a` is at least row `b` on every column where `b` scores: for each key of `b`, `a`
// holds a key of the same column at or before it (as high a score, or higher). `a` must differ
// from `b`, so that it is then above it somewhere.
bool covers(Keys a, Keys b, const std::vector<uint32_t>& column_start) {
    auto at = a.begin();
    for (uint32_t key : b) {
        while (at != a.end() && *at < column_start[key])
            ++at;
        if (at == a.end() || *at > key) return false;
    }
    return true;
}

// How many undominated rows hold each key, as a Fenwick tree: the count over a range of keys, and
// the next key that some row holds, each in logarithmic time.
class KeyCounts {
public:
    explicit KeyCounts(size_t keys) : tree_(keys + 1, 0) {}

    void add(size_t key) {
        for (size_t i = key + 1; i < tree_.size(); i += i & (~i + 1))
            ++tree_[i];
    }
    // The count over the keys before `end`.
    size_t below(size_t end) const {
        size_t sum = 0;
        for (size_t i = end; i > 0; i -= i & (~i + 1))
            sum += tree_[i];
        return sum;
    }
    // The first key at which the count from key 0 on exceeds `sum`, which must be below the count
    // over all keys.
    size_t reached_past(size_t sum) const {
        size_t at = 0;
        for (size_t step = std::bit_floor(tree_.size() - 1); step > 0; step >>= 1) {
            if (at + step < tree_.size() && tree_[at + step] <= sum) {
                at += step;
                sum -= tree_[at];
            }
        }
        return at;
    }

private:
    std::vector<size_t> tree_;
};

// The undominated rows found so far, listed under every key they hold. A row is compared only
// with the rows listed under the keys of its rarest column, from the column's highest score down
// to its own: the only ones that reach its score there. A column where no undominated row reaches
// it (a column of its own, or a score above all others) decides without comparing.
class KeyIndex {
public:
    KeyIndex(const KeyedRows& keyed, size_t* comparisons)
        : keyed_(keyed), counts_(keyed.column_start.size()), held_(keyed.column_start.size(), 0),
          last_holder_(keyed.column_start.size(), kNone), comparisons_(comparisons) {}

    bool covered(Keys row) const {
        if (row.empty()) return any_; // any other row is above it somewhere
        const auto& column_start = keyed_.column_start;
        uint32_t rarest = row.front();
        size_t fewest = SIZE_MAX;
        for (uint32_t key : row) {
            poll_cancellation();
            // The highest score of a column is reached only by the rows that hold it.
            const size_t reaching = key == column_start[key]
                                        ? held_[key]
                                        : counts_.below(key + 1) - counts_.below(column_start[key]);
            if (reaching < fewest) {
                fewest = reaching;
                rarest = key;
            }
            if (fewest == 0) return false;
        }
        if (rarest == column_start[rarest]) return covered_by_holders(rarest, row);
        size_t passed = counts_.below(column_start[rarest]);
        const size_t last = passed + fewest;
        while (passed < last) {
            const uint32_t key = static_cast<uint32_t>(counts_.reached_past(passed));
            if (covered_by_holders(key, row)) return true;
            passed += held_[key];
        }
        return false;
    }

    void add(size_t row) {
        const Keys keys = keyed_.row(row);
        VOK_INVARIANT(holders_.size() + keys.size() < kNone, "too many scores to compare");
        any_ = true;
        const auto& column_start = keyed_.column_start;
        for (uint32_t key : keys) {
            // Counts are read over keys of one column with more than one score, so a column of a
            // single score (every column of its own) needs none.
            if (key != column_start[key] ||
                (key + 1 < column_start.size() && column_start[key + 1] == key))
                counts_.add(key);
            ++held_[key];
            holders_.push_back({row, last_holder_[key]});
            last_holder_[key] = static_cast<uint32_t>(holders_.size() - 1);
        }
    }

private:
    bool covered_by_holders(uint32_t key, Keys row) const {
        for (uint32_t h = last_holder_[key]; h != kNone; h = holders_[h].next) {
            poll_cancellation();
            if (comparisons_ != nullptr) ++*comparisons_;
            if (covers(keyed_.row(holders_[h].row), row, keyed_.column_start)) return true;
        }
        return false;
    }

    static constexpr uint32_t kNone = UINT32_MAX;
    struct Holder {
        size_t row;
        uint32_t next; // the holder of the same key listed before it, or kNone
    };

    const KeyedRows& keyed_;
    KeyCounts counts_;
    std::vector<uint32_t> held_;        // by key: how many rows hold it
    std::vector<uint32_t> last_holder_; // by key: a list through `holders_`
    std::vector<Holder> holders_;
    bool any_ = false;
    size_t* comparisons_;
};

// Rows over three columns or fewer, x, y and z in column order. Every row found before another
// is at least as high on x, so it dominates the other exactly when it is at least as high on y
// and on z: whether some undominated row found so far is, a prefix minimum over the y ranks (0
// for the highest score) of the z ranks answers. A column the rows lack ranks everything 0.
class ThreeColumnSweep {
public:
    explicit ThreeColumnSweep(const KeyedRows& keyed) : keyed_(keyed) {
        const auto& column_start = keyed.column_start;
        for (size_t key = 0, column = 0; key < column_start.size(); ++key) {
            if (column_start[key] == key && key > 0) ++column;
            if (column == 0) continue;
            first_[column - 1] = std::min(first_[column - 1], static_cast<uint32_t>(key));
            last_[column - 1] = static_cast<uint32_t>(key + 1);
        }
        // Rank size(y) is the score 0, below every score on y.
        lowest_z_.assign(size_t{rank_count(0)} + 2, kNone);
    }

    bool covered(Keys row) const {
        uint32_t z_rank = kNone;
        for (size_t i = rank(row, 0) + 1; i > 0; i -= i & (~i + 1))
            z_rank = std::min(z_rank, lowest_z_[i]);
        return z_rank <= rank(row, 1);
    }

    void add(size_t row) {
        const Keys keys = keyed_.row(row);
        const uint32_t z_rank = rank(keys, 1);
        for (size_t i = rank(keys, 0) + 1; i < lowest_z_.size(); i += i & (~i + 1))
            lowest_z_[i] = std::min(lowest_z_[i], z_rank);
    }

private:
    static constexpr uint32_t kNone = UINT32_MAX;

    // The number of distinct scores on y (which = 0) or z (which = 1).
    uint32_t rank_count(int which) const {
        return last_[which] - std::min(first_[which], last_[which]);
    }
    // The rank of the row's score on y or z: how many distinct scores are above it.
    uint32_t rank(Keys row, int which) const {
        for (uint32_t key : row)
            if (key >= first_[which] && key < last_[which]) return key - first_[which];
        return rank_count(which);
    }

    const KeyedRows& keyed_;
    uint32_t first_[2] = {kNone, kNone}; // the keys of y and of z: [first_, last_)
    uint32_t last_[2] = {0, 0};
    std::vector<uint32_t> lowest_z_; // a Fenwick tree of minima over y ranks, 1-based
};

// One pass, greatest first: each distinct row is decided once for all its copies, against the
// undominated rows found before it, which are all that can dominate it (a row that is dominated
// at all is dominated by an undominated one, and that one comes first).
template <class Maxima>
std::vector<size_t> undominated_in_order(const KeyedRows& keyed, Maxima& maxima) {
    const std::vector<Placed> order = greatest_first(keyed);
    std::vector<bool> kept(order.size(), false);
    for (size_t at = 0; at < order.size();) {
        poll_cancellation();
        const Keys row = keyed.row(order[at].row);
        size_t end = at + 1;
        while (end < order.size() && order[end].head == order[at].head &&
               std::ranges::equal(keyed.row(order[end].row), row)) {
            poll_cancellation();
            ++end;
        }
        if (!maxima.covered(row)) {
            maxima.add(order[at].row);
            for (size_t k = at; k < end; ++k)
                kept[order[k].row] = true;
        }
        at = end;
    }
    std::vector<size_t> positions;
    for (size_t i = 0; i < kept.size(); ++i)
        if (kept[i]) positions.push_back(i);
    return positions;
}

} // namespace

std::vector<size_t> undominated_rows(const std::vector<SparseScores>& rows, size_t* comparisons) {
    const KeyedRows keyed = keyed_rows(rows);
    if (keyed.columns <= 3) {
        ThreeColumnSweep sweep(keyed);
        return undominated_in_order(keyed, sweep);
    }
    KeyIndex index(keyed, comparisons);
    return undominated_in_order(keyed, index);
}

} // namespace vok::authority
