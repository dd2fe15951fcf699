// What the structure-aware fuzz targets share: choices drawn from the fuzzer's bytes, and the one
// way a target reports a broken law.
//
// A generator asks `Choices` which of a few shapes to build next; every answer is in range
// whatever the bytes are, and once the bytes run out every answer is the first option, so each
// input, however short, still yields a valid document. The fuzzer then grows the inputs whose
// choices reach new code.
//
// Nothing here swallows an exception: a broken invariant inside the core (vok::InvariantFailure)
// or any other exception escaping it must end the run as a crash, because at the Python
// boundary it would be a panic, and no input may cause one.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vok::fuzzing {

class Choices {
public:
    Choices(const uint8_t* data, size_t size) : in_(data, size) {}

    // 0 .. n-1; n must be at least 1.
    size_t pick(size_t n) { return n <= 1 ? 0 : in_.ConsumeIntegralInRange<size_t>(0, n - 1); }
    // True with about `percent` chance for random bytes; false once the bytes are used up.
    bool chance(unsigned percent) {
        return in_.ConsumeIntegralInRange<unsigned>(1, 100) > 100 - percent;
    }
    template <class T> T pick_of(std::initializer_list<T> options) {
        return options.begin()[pick(options.size())];
    }
    std::string word(std::initializer_list<const char*> options) {
        return pick_of<const char*>(options);
    }
    template <class T> T integer(T low, T high) { return in_.ConsumeIntegralInRange<T>(low, high); }
    // A short text of any bytes (rarely needed: generators prefer vocabularies that line up).
    std::string raw_text(size_t max_length) { return in_.ConsumeRandomLengthString(max_length); }
    size_t remaining() { return in_.remaining_bytes(); }

private:
    FuzzedDataProvider in_;
};

// Runs `run`. An exception escaping it is reported with `context` (the generated input, say) and
// thrown on, so that the run still ends as a crash, now with the input that caused it in the log.
template <class F> decltype(auto) reporting_exceptions(std::string_view context, F&& run) {
    try {
        return run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception escaped: %s\n--- while running\n%.*s\n", e.what(),
                     static_cast<int>(context.size()), context.data());
        throw;
    }
}

// Reports which law broke, with the documents that show it, and crashes the run.
[[noreturn]] inline void broken(std::string_view law, std::string_view detail = {},
                                std::string_view more = {}) {
    std::fprintf(stderr, "law broken: %.*s\n", static_cast<int>(law.size()), law.data());
    if (!detail.empty())
        std::fprintf(stderr, "--- detail\n%.*s\n", static_cast<int>(detail.size()), detail.data());
    if (!more.empty())
        std::fprintf(stderr, "--- more\n%.*s\n", static_cast<int>(more.size()), more.data());
    __builtin_trap();
}

} // namespace vok::fuzzing
