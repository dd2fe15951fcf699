// Glob parsing and translation into RE2 syntax; see glob.h.
//
// The parser reads code points into a flat token list (alternatives hold token lists of their
// own, one level deep) and the writer turns the tokens into regex text. Special tokens stand for
// the three legal shapes of `**` so that "src/**/x" can match "src/x" as well as "src/a/b/x".
#include "file_match/glob.h"

#include <re2/re2.h>

#include <optional>
#include <utility>

#include "common/cancellation.h"
#include "common/hex.h"
#include "common/utf8.h"
#include "file_match/path_text.h"

namespace vok::file_match {

namespace {

constexpr std::string_view kUnclosedClass = "unclosed character class; missing ']'";
constexpr std::string_view kInvalidRecursive = "invalid use of **; must be one path component";
constexpr std::string_view kUnopenedAlternates =
    "unopened alternate group; missing '{' (maybe escape '}' with '[}]'?)";
constexpr std::string_view kUnclosedAlternates =
    "unclosed alternate group; missing '}' (maybe escape '{' with '[{]'?)";
constexpr std::string_view kNestedAlternates = "nested alternate groups are not allowed";
constexpr std::string_view kDanglingEscape = "dangling '\\'";

enum class TokenKind {
    Literal,
    Any,
    ZeroOrMore,
    RecursivePrefix,     // "**/" at the start: no directory or any number of them
    RecursiveSuffix,     // "/**" at the end: everything below
    RecursiveZeroOrMore, // "/**/" inside: one separator or any number of directories
    Class,
    Alternates,
};

struct Token {
    TokenKind kind;
    char32_t literal = 0;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
    std::vector<std::vector<Token>> alternatives;
};

// Code points of `text`, which must be valid UTF-8.
std::u32string code_points(std::string_view text) {
    std::u32string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const DecodedChar decoded = decode_utf8(text, at);
        out += static_cast<char32_t>(decoded.code_point);
        at += decoded.length;
    }
    return out;
}

class GlobParser {
public:
    explicit GlobParser(std::u32string chars) : chars_(std::move(chars)) {}

    Result<std::vector<Token>, std::string> parse() {
        while (auto c = bump()) {
            Result<void, std::string> step = Ok();
            switch (*c) {
            case U'?':
                push({TokenKind::Any});
                break;
            case U'*':
                step = parse_star();
                break;
            case U'[':
                step = parse_class();
                break;
            case U'{':
                // Alternatives nest only one level deep; a second level is refused rather than
                // silently read as literal braces.
                if (branches_.size() > 1) return Err(std::string(kNestedAlternates));
                branches_.emplace_back();
                break;
            case U'}':
                step = close_alternates();
                break;
            case U',':
                if (branches_.size() > 1) {
                    branches_.emplace_back();
                } else {
                    push_literal(U',');
                }
                break;
            case U'\\': {
                auto escaped = bump();
                if (!escaped) return Err(std::string(kDanglingEscape));
                push_literal(*escaped);
                break;
            }
            default:
                push_literal(*c);
            }
            if (!step.ok()) return Err(std::move(step).error());
        }
        if (branches_.size() > 1) return Err(std::string(kUnclosedAlternates));
        return std::move(branches_.front());
    }

private:
    std::optional<char32_t> bump() {
        prev_ = cur_;
        cur_ = at_ < chars_.size() ? std::optional<char32_t>(chars_[at_++]) : std::nullopt;
        return cur_;
    }
    std::optional<char32_t> peek() const {
        return at_ < chars_.size() ? std::optional<char32_t>(chars_[at_]) : std::nullopt;
    }
    void push(Token token) { branches_.back().push_back(std::move(token)); }
    void push_literal(char32_t c) {
        Token token{TokenKind::Literal};
        token.literal = c;
        push(std::move(token));
    }

    Result<void, std::string> close_alternates() {
        // A stray "}" would otherwise vanish from the pattern and match nothing in its place.
        if (branches_.size() < 2) return Err(std::string(kUnopenedAlternates));
        Token alternates{TokenKind::Alternates};
        alternates.alternatives.assign(std::make_move_iterator(branches_.begin() + 1),
                                       std::make_move_iterator(branches_.end()));
        branches_.resize(1);
        push(std::move(alternates));
        return Ok();
    }

    Result<void, std::string> parse_star() {
        const std::optional<char32_t> before = prev_;
        if (peek() != U'*') {
            push({TokenKind::ZeroOrMore});
            return Ok();
        }
        bump();
        if (branches_.back().empty()) {
            // "**" opening the pattern (or an alternative) must be the whole first component.
            push({TokenKind::RecursivePrefix});
            auto next = bump();
            if (next && *next != U'/') return Err(std::string(kInvalidRecursive));
            return Ok();
        }
        if (before != U'/') return Err(std::string(kInvalidRecursive));
        bool is_suffix = false;
        const auto next = peek();
        if (!next) {
            is_suffix = true;
        } else if ((*next == U',' || *next == U'}') && branches_.size() > 1) {
            is_suffix = true;
        } else if (*next == U'/') {
            bump();
        } else {
            return Err(std::string(kInvalidRecursive));
        }
        // The token before is the "/" that this "**" absorbs, unless it already is a recursive
        // token (as in "**/**"), which keeps its meaning.
        Token previous = std::move(branches_.back().back());
        branches_.back().pop_back();
        if (previous.kind == TokenKind::RecursivePrefix ||
            previous.kind == TokenKind::RecursiveSuffix) {
            push(std::move(previous));
        } else {
            push({is_suffix ? TokenKind::RecursiveSuffix : TokenKind::RecursiveZeroOrMore});
        }
        return Ok();
    }

    Result<void, std::string> parse_class() {
        Token token{TokenKind::Class};
        if (peek() == U'!' || peek() == U'^') {
            bump();
            token.negated = true;
        }
        auto& ranges = token.ranges;
        bool first = true;
        bool in_range = false;
        while (true) {
            auto c = bump();
            if (!c) return Err(std::string(kUnclosedClass));
            if (*c == U']') {
                if (!first) break;
                ranges.emplace_back(U']', U']');
            } else if (*c == U'-' && (first || !in_range)) {
                if (first) {
                    ranges.emplace_back(U'-', U'-');
                } else {
                    in_range = true;
                }
            } else if (in_range) {
                auto& range = ranges.back();
                range.second = *c;
                if (range.second < range.first) {
                    std::string message = "invalid range; '";
                    append_utf8(message, range.first);
                    message += "' > '";
                    append_utf8(message, range.second);
                    message += "'";
                    return Err(std::move(message));
                }
                in_range = false;
            } else {
                ranges.emplace_back(*c, *c);
            }
            first = false;
        }
        // A "-" right before the closing "]" is literal.
        if (in_range) ranges.emplace_back(U'-', U'-');
        push(std::move(token));
        return Ok();
    }

    std::u32string chars_;
    std::size_t at_ = 0;
    std::optional<char32_t> prev_;
    std::optional<char32_t> cur_;
    // The pattern's token list, then one list per alternative of an open "{...}".
    std::vector<std::vector<Token>> branches_ = std::vector<std::vector<Token>>(1);
};

void append_escaped(std::string& re, char32_t c) {
    const bool plain = (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
                       (c >= U'0' && c <= U'9') || c == U'_';
    if (plain) {
        re += static_cast<char>(c);
        return;
    }
    re += "\\x{";
    append_hex_number(re, c);
    re += '}';
}

void write_tokens(const std::vector<Token>& tokens, bool literal_separator, std::string& re) {
    for (const Token& token : tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            append_escaped(re, token.literal);
            break;
        case TokenKind::Any:
            re += literal_separator ? "[^/]" : ".";
            break;
        case TokenKind::ZeroOrMore:
            re += literal_separator ? "[^/]*" : ".*";
            break;
        case TokenKind::RecursivePrefix:
            re += "(?:/?|.*/)";
            break;
        case TokenKind::RecursiveSuffix:
            re += "/.*";
            break;
        case TokenKind::RecursiveZeroOrMore:
            re += "(?:/|/.*/)";
            break;
        case TokenKind::Class:
            re += token.negated ? "[^" : "[";
            for (const auto& [low, high] : token.ranges) {
                append_escaped(re, low);
                if (high != low) {
                    re += '-';
                    append_escaped(re, high);
                }
            }
            re += ']';
            break;
        case TokenKind::Alternates: {
            std::vector<std::string> parts;
            for (const auto& alternative : token.alternatives) {
                std::string part;
                write_tokens(alternative, literal_separator, part);
                if (!part.empty()) parts.push_back(std::move(part));
            }
            if (parts.empty()) break;
            re += "(?:";
            for (std::size_t i = 0; i < parts.size(); ++i) {
                if (i > 0) re += '|';
                re += parts[i];
            }
            re += ')';
            break;
        }
        }
    }
}

re2::RE2::Options regex_options() {
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingUTF8);
    options.set_dot_nl(true);
    options.set_case_sensitive(true);
    options.set_log_errors(false);
    return options;
}

} // namespace

Result<std::string, std::string> glob_to_regex(std::string_view glob, bool literal_separator) {
    GlobParser parser(code_points(lossy_utf8(glob)));
    VOK_ASSIGN(auto tokens, parser.parse());
    if (tokens.size() == 1 && tokens.front().kind == TokenKind::RecursivePrefix)
        return std::string(".*");
    std::string re;
    write_tokens(tokens, literal_separator, re);
    return re;
}

std::string glob_error_text(std::string_view glob, std::string_view description) {
    std::string text = "error parsing glob '";
    text += glob;
    text += "': ";
    text += description;
    return text;
}

Result<GlobSet, std::string> GlobSet::build(const std::vector<std::string>& regexes) {
    GlobSet set;
    const auto options = regex_options();
    for (const std::string& text : regexes) {
        // Compiling one expression takes up to a fraction of a millisecond and cannot be
        // interrupted, so the check is asked before each.
        poll_cancellation_now();
        auto regex = std::make_shared<const re2::RE2>(text, options);
        if (!regex->ok()) return Err(regex->error());
        set.regexes_.push_back(std::move(regex));
    }
    return set;
}

bool GlobSet::is_match(std::string_view candidate) const {
    for (const auto& regex : regexes_) {
        if (re2::RE2::FullMatch(candidate, *regex)) return true;
    }
    return false;
}

} // namespace vok::file_match
