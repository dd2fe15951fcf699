// Grammar-only throughput: runs the VOK DSL grammar over one source file several times and reports
// the best and median speed in MB/s (10^6 bytes per second): first the compact parser that
// parse_source runs, then the rule engine from `program` (the tracking parser behind syntax
// errors, which leaves the full pair tree).
//
// usage: grammar_bench FILE [RUNS]
// The file is typically written by bench/generate_model.py. Timing covers the grammar run and the
// construction of the pair tree, not reading the file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "parser/grammar/dsl_parser.h"
#include "parser/parser_error.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const auto input = bench::read_file(argv[1]);
    if (!input) return 2;
    const std::string& text = *input;
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 7;

    bench::Timings timings;
    bench::Timings engine_timings;
    size_t pairs = 0;
    size_t engine_pairs = 0;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        auto engine = vok::grammar::DslParser::parse(vok::grammar::Rule::program, text);
        engine_timings.seconds.push_back(bench::seconds_since(start));
        if (engine.ok()) engine_pairs = engine->pair_count();
        start = std::chrono::steady_clock::now();
        auto result = vok::grammar::DslParser::parse_program(text);
        const double seconds = bench::seconds_since(start);
        if (!result.ok()) {
            std::fprintf(stderr, "%s\n",
                         vok::ParserError::from_parse_failure(result.error()).to_string().c_str());
            return 1;
        }
        pairs = result->pair_count();
        timings.seconds.push_back(seconds);
    }
    const double megabytes = static_cast<double>(text.size()) / 1e6;
    std::printf("file: %s (%.2f MB, %zu pairs; %zu in the full tree), %d runs\n", argv[1],
                megabytes, pairs, engine_pairs, runs);
    timings.report("grammar:", megabytes);
    engine_timings.report("rule engine:", megabytes);
    return 0;
}
