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

#include "peg/line_index.h"
#include "peg/pairs.h"
#include "peg/parse_failure.h"
#include "peg/record_buffer.h"
#include "peg/utf8.h"
#include "common/result.h"

namespace vok::peg {

enum class Lookahead : uint8_t { None, Positive, Negative };

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
        // After a refusal the effective limit is 0, so this one test also refuses every later call.
        if (depth_ >= depth_limit_) [[unlikely]]
            return refuse_nesting();
        const size_t actual_pos = pos_;
        const size_t index = queue_.size();
        size_t pos_index = 0;
        size_t neg_index = 0;
        if (track_attempts_ && actual_pos == attempt_pos_) {
            pos_index = pos_attempts_.size();
            neg_index = neg_attempts_.size();
        }
        const size_t attempts = pos_index + neg_index; // attempts already made at actual_pos
        const bool records = lookahead_ == Lookahead::None && !atomic_;
        if (records)
            queue_.push_back(PairRecord{static_cast<uint32_t>(actual_pos), 0, 0, rule_code(r)});
        ++depth_;
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
        if (input_.size() - pos_ < literal.size()) return false;
        const char* p = input_.data() + pos_;
        for (size_t i = 0; i < literal.size(); ++i)
            if (ascii_lower(p[i]) != ascii_lower(literal[i])) return false;
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
    Lookahead lookahead_mode() const { return lookahead_; }
    std::string_view input() const { return input_; }
    bool nesting_refused() const { return aborted_; }

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
            sort_unique(pos_attempts_);
            sort_unique(neg_attempts_);
            failure.position = attempt_pos_;
            failure.positives = std::move(pos_attempts_);
            failure.negatives = std::move(neg_attempts_);
        }
        failure.line_col = line_col_at(input_, failure.position);
        return Err(std::move(failure));
    }

private:
    static char ascii_lower(char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    static uint16_t rule_code(R r) { return static_cast<uint16_t>(r); }

    static void sort_unique(std::vector<R>& rules) {
        std::sort(rules.begin(), rules.end());
        rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
    }

    size_t attempts_at(size_t pos) const {
        return pos == attempt_pos_ ? pos_attempts_.size() + neg_attempts_.size() : 0;
    }

    void track(R r, size_t pos, size_t pos_index, size_t neg_index, size_t prev_attempts) {
        // Attempts behind the farthest position can never be reported.
        if (atomic_ || pos < attempt_pos_) return;
        const size_t curr_attempts = attempts_at(pos);
        // A single attempt made by the children stands for this rule.
        if (curr_attempts > prev_attempts && curr_attempts - prev_attempts == 1) return;
        if (pos == attempt_pos_) {
            pos_attempts_.resize(pos_index);
            neg_attempts_.resize(neg_index);
        } else {
            pos_attempts_.clear();
            neg_attempts_.clear();
            attempt_pos_ = pos;
        }
        (lookahead_ != Lookahead::Negative ? pos_attempts_ : neg_attempts_).push_back(r);
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

    std::string_view input_;
    size_t pos_ = 0;
    RecordBuffer<PairRecord> queue_;
    Lookahead lookahead_ = Lookahead::None;
    bool atomic_ = false;
    bool aborted_ = false;
    bool track_attempts_;
    std::vector<R> pos_attempts_;
    std::vector<R> neg_attempts_;
    size_t attempt_pos_ = 0;
    size_t depth_ = 0;
    size_t depth_limit_; // nesting_limit_ until a refusal, then 0
    size_t nesting_limit_;
    size_t abort_pos_ = 0;
};

// Runs `start` (a callable taking the state) over `input` with a fresh state of type `State`
// (a ParserState<R> or a grammar's subclass of it).
//
// Attempt tracking never steers the parse, and it costs a good share of the time on input that
// parses, where its result is thrown away. So the first run does not track; only when it fails is
// the input parsed again with tracking, which reproduces the same run and yields the report.
template <class State, class R, class F>
Result<ParseTree<R>, ParseFailure<R>> run_parser(std::string_view input, size_t nesting_limit,
                                                 F&& start) {
    if (input.size() > kMaxInputBytes) {
        ParseFailure<R> failure;
        failure.kind = FailureKind::InputTooLarge;
        return Err(std::move(failure));
    }
    {
        State state(input, nesting_limit, false);
        const bool matched = start(state);
        if (matched || state.nesting_refused()) return std::move(state).finish(matched);
    }
    State state(input, nesting_limit, true);
    const bool matched = start(state);
    return std::move(state).finish(matched);
}

} // namespace vok::peg
