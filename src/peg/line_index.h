// Line and column of a byte offset.
//
// Lines start at offset 0 and after every line feed (a carriage return is an ordinary character,
// so "\r\n" ends one line). Columns count Unicode scalar values, not bytes, from the line start.
// A LineIndex records every line start, once and at its first lookup (a parse whose tree is never
// asked for a position never pays for it), so the line of an offset is a binary search. Columns
// are counted forward from the last position asked for when the next one lies later on the same
// line: tree builders ask for positions in ascending order, and counting each from its line start
// would be quadratic on a long line (a minified source of a hundred thousand declarations).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace vok::peg {

struct LineCol {
    size_t line;   // 1-based
    size_t column; // 1-based, in characters
    bool operator==(const LineCol&) const = default;
};

// Borrows the text: it must outlive the index. Lookups update the forward cursor under a lock, so
// threads may share an index (workers building declarations of one tree word their errors by it).
class LineIndex {
public:
    explicit LineIndex(std::string_view text);

    // `offset` may equal the text's length (the end of input).
    LineCol line_col(size_t offset) const;

private:
    void index_lines() const;

    std::string_view text_;
    mutable std::mutex mutex_;
    mutable std::vector<size_t> line_starts_; // empty until the first lookup
    // The last position looked up: a later offset on the same line counts on from there.
    mutable size_t cursor_line_ = 1;
    mutable size_t cursor_offset_ = 0;
    mutable size_t cursor_column_ = 1;
};

// One-off lookup without an index (a single scan of the text before `offset`).
LineCol line_col_at(std::string_view text, size_t offset);

// Number of characters in `bytes`, an invalid byte counting as one.
size_t count_chars(std::string_view bytes);

} // namespace vok::peg
