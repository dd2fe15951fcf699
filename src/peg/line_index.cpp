// Line-start table and character counting for positions in the input.
#include "peg/line_index.h"

#include <algorithm>
#include <cstring>

#include "common/utf8.h"

namespace vok::peg {

size_t count_chars(std::string_view bytes) {
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    size_t count = 0;
    while (p < end) {
        // ASCII runs dominate; step them without calling the decoder.
        if (static_cast<unsigned char>(*p) < 0x80) {
            ++p;
        } else {
            p += decode_utf8(p, end).length;
        }
        ++count;
    }
    return count;
}

LineIndex::LineIndex(std::string_view text) : text_(text) {}

void LineIndex::index_lines() const {
    const std::string_view text = text_;
    line_starts_.push_back(0);
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    while (p < end) {
        const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (found == nullptr) break;
        p = static_cast<const char*>(found) + 1;
        line_starts_.push_back(static_cast<size_t>(p - begin));
    }
}

LineCol LineIndex::line_col(size_t offset) const {
    const std::lock_guard lock(mutex_);
    if (line_starts_.empty()) index_lines();
    offset = std::min(offset, text_.size());
    // The last line start at or before the offset: a few lines on from the last lookup (tree
    // builders ask in ascending order), else by binary search.
    size_t line = 0;
    if (offset >= line_starts_[cursor_line_ - 1]) {
        for (size_t probe = cursor_line_; probe < line_starts_.size() && probe < cursor_line_ + 8;
             ++probe) {
            if (line_starts_[probe] > offset) {
                line = probe;
                break;
            }
        }
        if (line == 0 && cursor_line_ + 8 >= line_starts_.size()) line = line_starts_.size();
    }
    if (line == 0) {
        const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
        line = static_cast<size_t>(after - line_starts_.begin());
    }
    size_t from = line_starts_[line - 1];
    size_t column = 1;
    if (line == cursor_line_ && offset >= cursor_offset_) {
        from = cursor_offset_;
        column = cursor_column_;
    }
    column += count_chars(text_.substr(from, offset - from));
    cursor_line_ = line;
    cursor_offset_ = offset;
    cursor_column_ = column;
    return {line, column};
}

LineCol line_col_at(std::string_view text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1;
    size_t line_start = 0;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    return {line, 1 + count_chars(text.substr(line_start, offset - line_start))};
}

} // namespace vok::peg
