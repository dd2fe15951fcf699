// The state of one PEG parse and the primitives that grammars are written with.
//
// The engine reproduces the semantics of the Rust `pest` runtime, including its failure report,
// because syntax errors must read exactly as that runtime words them:
//
// - A rule call (normal or atomic; silent rules are not wrapped) opens a pair record when no
//   lookahead is active and the mode is not atomic, and closes it on success; on failure it drops
//   every record it produced. Calls made inside an atomic rule leave no records. (The records are
//   the Start/End token queue of pest with each End folded into its Start; see pairs.h.)
// - Attempt tracking: each failing rule (and each succeeding rule inside a negative lookahead) is
//   offered to `track`, which keeps the rules tried at the farthest position reached. A rule whose
//   children added exactly one attempt at its own position is represented by that child; a rule
//   whose children added several replaces them with itself. Nothing is tracked in atomic mode.
// - A sequence that fails restores the position and drops its records; optional and repeat never
//   restore by themselves, which is sound because every failing primitive leaves the position as
//   it found it.
//
// Rules that ordered choice can retry at one position are called through `remembered_rule`, which
// remembers their failures (failure_memo.h) so that no failure is worked out twice; with the
// grammar's other rules bounded in what they do, a run costs a bounded number of rule calls per
// input byte. The state counts its rule calls for tests and fuzzers that check that bound, and
// polls for cancellation every few thousand calls.
//
// Grammars call rule functions recursively, so the depth of rule nesting is bounded: past
// `nesting_limit` the parse stops at once with a NestingTooDeep failure (every later rule call
// fails and every open rule fails on exit), instead of exhausting the thread's stack.
//
// All callables passed in take no arguments and return whether they matched. Nothing here
// allocates per character; the pair records and the attempt lists grow amortised.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ascii.h"
#include "common/cancellation.h"
#include "common/deep_recursion.h"
#include "common/result.h"
#include "common/utf8.h"
#include "peg/failure_memo.h"
#include "peg/line_index.h"
#include "peg/pairs.h"
#include "peg/parse_failure.h"
#include "peg/record_buffer.h"
#include "peg/rule_set.h"

namespace vok::peg {

enum class Lookahead : uint8_t { None, Positive, Negative };

// What a run cost: rule calls, each remembered failure replayed counting as one.
struct ParseStats {
    size_t rule_calls = 0;
    size_t deepest_nesting = 0; // the most rules open at once
};

// Offsets live in 32 bits in the pair records.
inline constexpr size_t kMaxInputBytes = UINT32_MAX - 1;

template <class R> class ParserState {
public:
    // Borrows `input` for the lifetime of the state and of the tree it yields. Without
    // `track_attempts` a failure reports no expected rules (see run_parser).
    ParserState(std::string_view input, size_t nesting_limit, bool track_attempts = true)
        : input_(input),
          // Source text yields about one pair per three or four bytes; reserving address space
          // up front avoids copying the queue as it grows (untouched pages cost nothing).
          queue_(input.size() / 3 + 64), track_attempts_(track_attempts),
          depth_limit_(nesting_limit), nesting_limit_(nesting_limit) {}
    ParserState(const ParserState&) = delete;
    ParserState& operator=(const ParserState&) = delete;

    // ---- rules and combinators ----

    template <class F> bool rule(R r, F&& f) {
        if ((++rule_calls_ & (kPollInterval - 1)) == 0) [[unlikely]]
            poll_cancellation_now();
        // After a refusal the effective limit is 0, so this one test also refuses every later call.
        if (depth_ >= depth_limit_) [[unlikely]]
            return refuse_nesting();
        const size_t actual_pos = pos_;
        const size_t index = queue_.size();
        size_t pos_index = 0;
        size_t neg_index = 0;
        size_t attempts = 0; // attempts already made at actual_pos
        if (track_attempts_ && actual_pos == attempt_pos_) {
            pos_index = pos_attempts_.size();
            neg_index = neg_attempts_.size();
            attempts = attempt_count_;
        }
        const bool records = lookahead_ == Lookahead::None && !atomic_;
        if (records)
            queue_.push_back(PairRecord{static_cast<uint32_t>(actual_pos), 0, 0, rule_code(r)});
        ++depth_;
        if (depth_ > deepest_) deepest_ = depth_;
        const bool matched = f();
        --depth_;
        if (aborted_) [[unlikely]] {
            queue_.truncate(index);
            return false;
        }
        if (matched) {
            if (lookahead_ == Lookahead::Negative && track_attempts_)
                track(r, actual_pos, pos_index, neg_index, attempts);
            if (records) {
                PairRecord& record = queue_[index];
                record.end = static_cast<uint32_t>(pos_);
                record.next = static_cast<uint32_t>(queue_.size());
            }
            return true;
        }
        if (lookahead_ != Lookahead::Negative && track_attempts_)
            track(r, actual_pos, pos_index, neg_index, attempts);
        if (records) queue_.truncate(index);
        return false;
    }

    // `rule` for rules that can be re-entered at one position: a failure is worked out once and
    // then replayed. Only runs that leave pairs are remembered; inside lookahead or atomic rules
    // tracking and pairs differ, and nothing there is retried at scale.
    //
    // The grammar recurses only through remembered rules, so they also make sure of stack room:
    // the recursion goes as deep as the nesting limit, and every few levels it checks whether the
    // thread's stack runs low (and continues on a heap segment if so).
    template <class F> bool remembered_rule(R r, F&& f) {
        if (depth_ >= next_stack_check_) [[unlikely]] {
            const size_t saved = next_stack_check_;
            next_stack_check_ = depth_ + kStackCheckInterval;
            const bool matched = with_stack_room([&] { return remembered_rule_here(r, f); });
            next_stack_check_ = saved;
            return matched;
        }
        return remembered_rule_here(r, f);
    }

    template <class F> bool remembered_rule_here(R r, F& f) {
        if (lookahead_ != Lookahead::None || atomic_) return rule(r, f);
        const size_t start = pos_;
        if (const auto* entry = memo_.find(r, start)) {
            ++rule_calls_;
            if (track_attempts_ && entry->tracked) replay(*entry);
            return false;
        }
        const size_t farthest_before = attempt_pos_;
        const size_t count_before = attempt_count_;
        const size_t positives_before = pos_attempts_.size();
        const size_t negatives_before = neg_attempts_.size();
        const size_t calls_before = rule_calls_;
        if (rule(r, f)) return true;
        // A failure found in a few calls costs no more to find again than to look up.
        if (aborted_ || rule_calls_ - calls_before <= kCheapFailureCalls) return false;
        if (!track_attempts_) {
            memo_.remember_untracked(r, start);
        } else if (attempt_pos_ > farthest_before) {
            // The failure reached farther than anything before it: all that is tracked is its own.
            memo_.remember(r, start, attempt_pos_, pos_attempts_.data(), pos_attempts_.size(),
                           neg_attempts_.data(), neg_attempts_.size());
        } else if (attempt_count_ == count_before) {
            memo_.remember_untracked(r, start);
        } else if (start == attempt_pos_) {
            // A rule failing where it started adds one attempt: itself or the one child that
            // stands for it (possibly a rule already in the set).
            const R* single = &last_added_;
            memo_.remember(r, start, attempt_pos_, single, last_added_negative_ ? 0 : 1, single,
                           last_added_negative_ ? 1 : 0);
        } else {
            // Attempts added behind where the rule started: only the set they make is ever read.
            memo_.remember(r, start, attempt_pos_, pos_attempts_.data() + positives_before,
                           pos_attempts_.size() - positives_before,
                           neg_attempts_.data() + negatives_before,
                           neg_attempts_.size() - negatives_before);
        }
        return false;
    }

    template <class F> bool atomic(F&& f) {
        const bool initial = atomic_;
        atomic_ = true;
        const bool matched = f();
        atomic_ = initial;
        return matched;
    }

    template <class F> bool sequence(F&& f) {
        const size_t start = pos_;
        const size_t index = queue_.size();
        if (f()) return true;
        pos_ = start;
        queue_.truncate(index);
        return false;
    }

    template <class F> bool optional(F&& f) {
        f();
        return true;
    }

    template <class F> bool repeat(F&& f) {
        while (f()) {
        }
        return true;
    }

    template <class F> bool negative_lookahead(F&& f) {
        return lookahead(false, std::forward<F>(f));
    }

    template <class F> bool positive_lookahead(F&& f) {
        return lookahead(true, std::forward<F>(f));
    }

    // `WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*`, only outside atomic mode. The two callables are the
    // grammar's silent whitespace and comment rules.
    template <class W, class C> bool implicit_skip(W&& whitespace, C&& comment) {
        if (atomic_) return true;
        atomic([&] {
            while (whitespace()) {
            }
            while (sequence([&] {
                if (!comment()) return false;
                while (whitespace()) {
                }
                return true;
            })) {
            }
            return true;
        });
        return true;
    }

    // ---- terminals: each leaves the position unchanged when it fails ----

    __attribute__((always_inline)) bool match_string(std::string_view literal) {
        if (input_.size() - pos_ < literal.size()) return false;
        // Literals are a few bytes long and known at the call site: a plain loop unrolls.
        const char* p = input_.data() + pos_;
        for (size_t i = 0; i < literal.size(); ++i)
            if (p[i] != literal[i]) return false;
        pos_ += literal.size();
        return true;
    }

    // ASCII case folding; every other byte must be equal.
    __attribute__((always_inline)) bool match_insensitive(std::string_view literal) {
        if (!starts_with_ignoring_ascii_case(std::string_view(cursor(), input_end()), literal))
            return false;
        pos_ += literal.size();
        return true;
    }

    bool match_range(char lo, char hi) {
        if (pos_ >= input_.size()) return false;
        const char c = input_[pos_];
        if (c < lo || c > hi) return false;
        ++pos_;
        return true;
    }

    // One character whose code point satisfies `predicate`.
    template <class P> bool match_char_by(P&& predicate) {
        if (pos_ >= input_.size()) return false;
        const DecodedChar decoded = decode_utf8(cursor(), input_end());
        if (!predicate(decoded.code_point)) return false;
        pos_ += decoded.length;
        return true;
    }

    // ANY: one character.
    bool skip_any() {
        if (pos_ >= input_.size()) return false;
        pos_ += decode_utf8(cursor(), input_end()).length;
        return true;
    }

    bool start_of_input() const { return pos_ == 0; }
    bool end_of_input() const { return pos_ == input_.size(); }

    // ---- direct access for hand-written atomic bodies ----

    const char* cursor() const { return input_.data() + pos_; }
    const char* input_end() const { return input_.data() + input_.size(); }
    // Moves forward to `p`, which must lie between cursor() and input_end().
    void advance_to(const char* p) { pos_ = static_cast<size_t>(p - input_.data()); }
    size_t position() const { return pos_; }
    bool is_atomic() const { return atomic_; }
    std::string_view input() const { return input_; }
    bool nesting_refused() const { return aborted_; }
    size_t rule_calls() const { return rule_calls_; }
    size_t deepest_nesting() const { return deepest_; }

    // ---- outcome ----

    // The tree when the start rule matched, else the failure report.
    Result<ParseTree<R>, ParseFailure<R>> finish(bool matched) && {
        if (matched && !aborted_) return ParseTree<R>(input_, std::move(queue_));
        ParseFailure<R> failure;
        if (aborted_) {
            failure.kind = FailureKind::NestingTooDeep;
            failure.position = abort_pos_;
            failure.nesting_limit = nesting_limit_;
        } else {
            failure.position = attempt_pos_;
            failure.positives = pos_attempts_.take_sorted();
            failure.negatives = neg_attempts_.take_sorted();
        }
        failure.line_col = line_col_at(input_, failure.position);
        return Err(std::move(failure));
    }

private:
    static uint16_t rule_code(R r) { return static_cast<uint16_t>(r); }

    size_t attempts_at(size_t pos) const { return pos == attempt_pos_ ? attempt_count_ : 0; }

    void track(R r, size_t pos, size_t pos_index, size_t neg_index, size_t prev_attempts) {
        // Attempts behind the farthest position can never be reported.
        if (atomic_ || pos < attempt_pos_) return;
        const size_t curr_attempts = attempts_at(pos);
        // A single attempt made by the children stands for this rule.
        if (curr_attempts > prev_attempts && curr_attempts - prev_attempts == 1) return;
        if (pos == attempt_pos_) {
            pos_attempts_.truncate(pos_index);
            neg_attempts_.truncate(neg_index);
            attempt_count_ = prev_attempts;
        } else {
            move_attempts_to(pos);
        }
        add_attempt(r, lookahead_ == Lookahead::Negative);
    }

    void move_attempts_to(size_t pos) {
        pos_attempts_.clear();
        neg_attempts_.clear();
        attempt_count_ = 0;
        attempt_pos_ = pos;
    }

    void add_attempt(R r, bool negative) {
        (negative ? neg_attempts_ : pos_attempts_).add(r);
        ++attempt_count_;
        last_added_ = r;
        last_added_negative_ = negative;
    }

    // Does to attempt tracking what running the remembered failing rule again would do.
    template <class Entry> void replay(const Entry& entry) {
        if (entry.farthest < attempt_pos_) return;
        if (entry.farthest > attempt_pos_) move_attempts_to(entry.farthest);
        const R* rules = memo_.pool(entry);
        for (uint32_t i = 0; i < entry.positives; ++i)
            add_attempt(rules[i], false);
        for (uint32_t i = 0; i < entry.negatives; ++i)
            add_attempt(rules[entry.positives + i], true);
    }

    template <class F> bool lookahead(bool positive, F&& f) {
        const Lookahead initial = lookahead_;
        if (positive)
            lookahead_ = initial == Lookahead::Negative ? Lookahead::Negative : Lookahead::Positive;
        else
            lookahead_ = initial == Lookahead::Negative ? Lookahead::Positive : Lookahead::Negative;
        const size_t start = pos_;
        const size_t index = queue_.size();
        const bool matched = f();
        pos_ = start;
        queue_.truncate(index);
        lookahead_ = initial;
        return positive ? matched : !matched;
    }

    bool refuse_nesting() {
        if (!aborted_) {
            aborted_ = true;
            abort_pos_ = pos_;
            depth_limit_ = 0;
        }
        return false;
    }

    static constexpr size_t kCheapFailureCalls = 8;
    static constexpr size_t kPollInterval = 4096; // a power of two
    static constexpr size_t kStackCheckInterval = 16;

    std::string_view input_;
    size_t pos_ = 0;
    RecordBuffer<PairRecord> queue_;
    Lookahead lookahead_ = Lookahead::None;
    bool atomic_ = false;
    bool aborted_ = false;
    bool track_attempts_;
    RuleSet<R> pos_attempts_;
    RuleSet<R> neg_attempts_;
    size_t attempt_pos_ = 0;
    size_t attempt_count_ = 0; // attempts added at attempt_pos_, each repeat counted
    R last_added_{};
    bool last_added_negative_ = false;
    size_t depth_ = 0;
    size_t depth_limit_; // nesting_limit_ until a refusal, then 0
    size_t nesting_limit_;
    size_t abort_pos_ = 0;
    FailureMemo<R> memo_;
    size_t rule_calls_ = 0;
    size_t deepest_ = 0;
    size_t next_stack_check_ = 0; // the depth at which a remembered rule next checks the stack
};

// Runs `start` (a callable taking the state) over `input` with a fresh state of type `State`
// (a ParserState<R> or a grammar's subclass of it).
//
// Attempt tracking never steers the parse, and it costs a good share of the time on input that
// parses, where its result is thrown away. So the first run does not track; only when it fails is
// the input parsed again with tracking, which reproduces the same run and yields the report.
template <class State, class R, class F>
Result<ParseTree<R>, ParseFailure<R>> run_parser(std::string_view input, size_t nesting_limit,
                                                 F&& start, ParseStats* stats = nullptr) {
    if (input.size() > kMaxInputBytes) {
        ParseFailure<R> failure;
        failure.kind = FailureKind::InputTooLarge;
        return Err(std::move(failure));
    }
    {
        State state(input, nesting_limit, false);
        const bool matched = start(state);
        if (stats != nullptr) {
            stats->rule_calls = state.rule_calls();
            stats->deepest_nesting = state.deepest_nesting();
        }
        if (matched || state.nesting_refused()) return std::move(state).finish(matched);
    }
    State state(input, nesting_limit, true);
    const bool matched = start(state);
    if (stats != nullptr) {
        stats->rule_calls += state.rule_calls();
        stats->deepest_nesting = std::max(stats->deepest_nesting, state.deepest_nesting());
    }
    return std::move(state).finish(matched);
}

} // namespace vok::peg
