// The TOML nesting scanner; see toml_nesting.h.
//
// Values nest through an explicit stack of open arrays and inline tables, so the scanner's own
// stack use does not depend on the text. Every step consumes at least one byte or closes a
// container, so the scan ends after at most a few passes over each byte.
#include "registry/toml_nesting.h"

#include <vector>

namespace vok::registry {

namespace {

class NestingScanner {
public:
    NestingScanner(std::string_view text, std::size_t limit) : text_(text), limit_(limit) {}

    std::optional<TomlPosition> run() {
        // The library skips a byte order mark; read as a key it would hide the first line.
        if (looking_at("\xEF\xBB\xBF")) pos_ += 3;
        std::size_t table_level = 0; // of the table the last header opened
        while (!at_end() && !found_) {
            skip_blanks();
            if (at_end()) break;
            const char c = peek();
            if (c == '#') {
                skip_line();
            } else if (c == '\n') {
                advance();
            } else if (c == '[') {
                table_level = header();
                skip_line();
            } else {
                key_value(table_level);
                skip_line();
            }
        }
        return found_;
    }

private:
    struct Open {
        char kind;         // '[' or '{'
        std::size_t level; // of the container itself
    };

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }
    bool looking_at(std::string_view s) const { return text_.substr(pos_).starts_with(s); }

    void advance() {
        const auto c = static_cast<unsigned char>(text_[pos_++]);
        if (c == '\n') {
            ++where_.line;
            where_.column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++where_.column; // a continuation byte belongs to the character already counted
        }
    }

    void advance(std::size_t count) {
        for (std::size_t i = 0; i < count && !at_end(); ++i)
            advance();
    }

    // Records the first place that lies at `level` beyond the limit.
    void check(std::size_t level) {
        if (level > limit_ && !found_) found_ = where_;
    }

    void skip_blanks() {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\r'))
            advance();
    }

    // Up to the line break, which is left for the caller.
    void skip_line() {
        while (!at_end() && peek() != '\n')
            advance();
    }

    // Blanks, line breaks and comments, as arrays allow between their values.
    void skip_blanks_and_comments() {
        while (!at_end()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                advance();
            } else if (c == '#') {
                skip_line();
            } else {
                break;
            }
        }
    }

    // A string of any kind, from its opening quote. A single-line string ends at the line break
    // at the latest; a multi-line one ends at the first run of three or more quotes (up to two
    // quotes of such a run belong to the text).
    void skip_string() {
        const char quote = peek();
        const bool escapes = quote == '"';
        const char triple[] = {quote, quote, quote, '\0'};
        if (looking_at(triple)) {
            advance(3);
            while (!at_end()) {
                if (escapes && peek() == '\\') {
                    advance(2);
                } else if (looking_at(triple)) {
                    while (!at_end() && peek() == quote)
                        advance();
                    return;
                } else {
                    advance();
                }
            }
            return;
        }
        advance();
        while (!at_end() && peek() != '\n') {
            const char c = peek();
            if (escapes && c == '\\') {
                advance();
                if (!at_end() && peek() != '\n') advance();
            } else {
                advance();
                if (c == quote) return;
            }
        }
    }

    static bool ends_bare_part(char c) {
        switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
        case '.':
        case '=':
        case '[':
        case ']':
        case '{':
        case '}':
        case ',':
        case '#':
        case '"':
        case '\'':
            return true;
        default:
            return false;
        }
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    // "YYYY-MM-DD".
    static bool is_date(std::string_view token) {
        if (token.size() != 10 || token[4] != '-' || token[7] != '-') return false;
        for (std::size_t i = 0; i < token.size(); ++i)
            if (i != 4 && i != 7 && !is_digit(token[i])) return false;
        return true;
    }

    // A dotted key whose first part lies at `level` + 1; returns how many parts it has (0 when
    // no key starts here).
    std::size_t key(std::size_t level) {
        std::size_t parts = 0;
        while (!at_end()) {
            skip_blanks();
            if (at_end()) break;
            const TomlPosition start = where_;
            const std::size_t begin = pos_;
            if (peek() == '"' || peek() == '\'') {
                skip_string();
            } else {
                while (!at_end() && !ends_bare_part(peek()))
                    advance();
            }
            if (pos_ == begin) break;
            ++parts;
            if (level + parts > limit_ && !found_) found_ = start;
            skip_blanks();
            if (at_end() || peek() != '.') break;
            advance();
        }
        return parts;
    }

    // A table header from its first bracket; returns the level of the table it opens.
    std::size_t header() {
        advance();
        const bool array_of_tables = !at_end() && peek() == '[';
        if (array_of_tables) advance();
        std::size_t level = key(0);
        if (array_of_tables) {
            ++level; // the array's new table lies one level below the array
            check(level);
        }
        return level;
    }

    // `key = value` within the table at `level`.
    void key_value(std::size_t level) {
        const std::size_t parts = key(level);
        if (parts == 0) return;
        skip_blanks();
        if (at_end() || peek() != '=') return;
        advance();
        skip_blanks();
        if (!at_end()) value(level + parts);
    }

    // One value at `level`, nested arrays and inline tables included; from its first character.
    void value(std::size_t level) {
        std::vector<Open> open;
        start_value(level, open);
        while (!open.empty() && !found_) {
            const Open top = open.back();
            skip_blanks_and_comments();
            if (at_end()) return;
            const char c = peek();
            if (c == (top.kind == '[' ? ']' : '}')) {
                advance();
                open.pop_back();
            } else if (c == ',') {
                advance();
            } else if (top.kind == '[') {
                start_value(top.level + 1, open);
            } else {
                const std::size_t parts = key(top.level);
                if (parts == 0) {
                    advance(); // not a key: step over it
                    continue;
                }
                skip_blanks();
                if (!at_end() && peek() == '=') {
                    advance();
                    skip_blanks();
                    if (!at_end()) start_value(top.level + parts, open);
                }
            }
        }
    }

    // A value at `level`: a string or scalar is consumed whole; an array or inline table is
    // opened onto `open`.
    void start_value(std::size_t level, std::vector<Open>& open) {
        check(level);
        const char c = peek();
        if (c == '[' || c == '{') {
            open.push_back({c, level});
            advance();
        } else if (c == '"' || c == '\'') {
            skip_string();
        } else {
            // Numbers, booleans and date-times.
            const std::size_t begin = pos_;
            while (!at_end() && !ends_bare_part(peek()))
                advance();
            // A date and a time may stand apart by one blank ("1979-05-27 07:32:00").
            if (is_date(text_.substr(begin, pos_ - begin)) && looking_at(" ") &&
                pos_ + 1 < text_.size() && is_digit(text_[pos_ + 1])) {
                advance();
                while (!at_end() && !ends_bare_part(peek()))
                    advance();
            }
            // A dot belongs to the number ("1.5"), not to a key.
            while (!at_end() && peek() == '.') {
                advance();
                while (!at_end() && !ends_bare_part(peek()))
                    advance();
            }
            if (pos_ == begin && !open.empty()) advance(); // stray character inside a container
        }
    }

    std::string_view text_;
    std::size_t limit_;
    std::size_t pos_ = 0;
    TomlPosition where_;
    std::optional<TomlPosition> found_;
};

} // namespace

std::optional<TomlPosition> find_nesting_beyond(std::string_view text, std::size_t limit) {
    return NestingScanner(text, limit).run();
}

} // namespace vok::registry
