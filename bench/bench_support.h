// What the benchmark executables share: reading the input file named on the command line, and
// reporting the best and median of several timed runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace bench {

// The whole file, or nothing (after saying why on standard error).
inline std::optional<std::string> read_file(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return std::nullopt;
    }
    std::stringstream buffer;
    buffer << file.rdbuf();
    return buffer.str();
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Timings {
    std::vector<double> seconds;

    // "<what> best: S s (X MB/s)  median: S s (X MB/s)"
    void report(const char* what, double megabytes) {
        std::sort(seconds.begin(), seconds.end());
        const double best = seconds.front();
        const double median = seconds[seconds.size() / 2];
        std::printf("%-12s best: %.4f s (%.1f MB/s)  median: %.4f s (%.1f MB/s)\n", what, best,
                    megabytes / best, median, megabytes / median);
    }
};

} // namespace bench
