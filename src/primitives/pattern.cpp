// Making and matching patterns; see pattern.h. Expressions are compiled by RE2 (UTF-8,
// case-sensitive, errors never logged); the compiled form is made on first match, once for all
// copies of a pattern.
#include "primitives/pattern.h"

#include <re2/re2.h>

#include <mutex>
#include <unordered_set>
#include <utility>

#include "common/invariant.h"
#include "common/thread_preparation.h"
#include "concept_id/concept_id.h"

namespace vok {

namespace {

// RE2 keeps a thread_local of its own (not exported), reached by every match: one match when the
// thread is prepared (common/thread_preparation.h) makes it, wherever the module matches later.
const re2::RE2 g_touching_pattern("");
const ThreadLocalToucher touch_re2([] {
    static_cast<void>(re2::RE2::PartialMatch("", g_touching_pattern));
});

} // namespace

struct Pattern::CompiledCell {
    explicit CompiledCell(std::string text) : source(std::move(text)) {}

    const std::string source;
    std::once_flag once;
    std::unique_ptr<const re2::RE2> regex; // written once, under `once`
};

namespace {

re2::RE2::Options pattern_options() {
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingUTF8);
    options.set_case_sensitive(true);
    options.set_log_errors(false); // failures are reported to the caller, never printed
    return options;
}

// Expression texts that compiled before. Whether a text compiles never changes, so a file that
// declares the same expression many times (or is lowered again) compiles it once. Bounded by
// forgetting everything when full, and long texts are not remembered, so a stream of distinct
// expressions cannot grow it without limit.
class CompiledTexts {
public:
    bool contains(const std::string& text) {
        std::lock_guard lock(mutex_);
        return texts_.contains(text);
    }

    void remember(const std::string& text) {
        if (text.size() > kLongestRemembered) return;
        std::lock_guard lock(mutex_);
        if (texts_.size() >= kMostRemembered) texts_.clear();
        texts_.insert(text);
    }

private:
    static constexpr size_t kMostRemembered = 4096;
    static constexpr size_t kLongestRemembered = 1024;

    std::mutex mutex_;
    std::unordered_set<std::string> texts_;
};

CompiledTexts& compiled_texts() {
    static CompiledTexts texts;
    return texts;
}

} // namespace

Result<Pattern, PatternError> Pattern::make(std::string name, std::string namespace_name,
                                            std::string regex) {
    if (!compiled_texts().contains(regex)) {
        re2::RE2 check(regex, pattern_options());
        if (!check.ok()) {
            return Err(PatternError::InvalidRegex{std::move(name), check.error()});
        }
        compiled_texts().remember(regex);
    }
    Pattern pattern;
    pattern.id = concept_id_for(namespace_name, name);
    pattern.name = std::move(name);
    pattern.namespace_ = std::move(namespace_name);
    pattern.compiled_ = std::make_shared<CompiledCell>(regex);
    pattern.regex = std::move(regex);
    return pattern;
}

Result<bool, std::string> Pattern::is_match(std::string_view text) const {
    VOK_INVARIANT(compiled_ != nullptr, "pattern used after it was moved from");
    CompiledCell& cell = *compiled_;
    std::call_once(cell.once, [&cell] {
        cell.regex = std::make_unique<const re2::RE2>(cell.source, pattern_options());
    });
    if (!cell.regex->ok()) return Err(cell.regex->error());
    return re2::RE2::PartialMatch(text, *cell.regex);
}

} // namespace vok
