// Grammar-only throughput: runs the VOK DSL grammar from `program` over one source file several
// times and reports the best and median speed in MB/s (10^6 bytes per second).
//
// usage: grammar_bench FILE [RUNS]
// The file is typically written by bench/generate_model.py. Timing covers the grammar run and the
// construction of the pair tree, not reading the file.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "parser/grammar/dsl_parser.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 7;

    std::vector<double> seconds;
    size_t pairs = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        auto result = vok::DslParser::parse(vok::Rule::program, text);
        const auto stop = std::chrono::steady_clock::now();
        if (!result.ok()) {
            std::fprintf(stderr, "%s\n",
                         vok::ParserError::from_parse_failure(result.error()).to_string().c_str());
            return 1;
        }
        pairs = result->pair_count();
        seconds.push_back(std::chrono::duration<double>(stop - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    const double megabytes = static_cast<double>(text.size()) / 1e6;
    std::printf("file: %s (%.2f MB, %zu pairs)\n", argv[1], megabytes, pairs);
    std::printf("runs: %d  best: %.4f s (%.1f MB/s)  median: %.4f s (%.1f MB/s)\n", runs,
                seconds.front(), megabytes / seconds.front(), seconds[seconds.size() / 2],
                megabytes / seconds[seconds.size() / 2]);
    return 0;
}
