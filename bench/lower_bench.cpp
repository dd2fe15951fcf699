// Front-end throughput: times parse_source alone, the lowering of its tree alone, and
// parse_to_graph (both, as Graph.parse runs them) over one source file, several runs each, and
// reports the best and median speed of each in MB/s of source (10^6 bytes per second).
//
// usage: lower_bench FILE [RUNS]
// The file is typically written by bench/generate_model.py. Timing covers building the syntax tree
// (and the graph), not reading the file. The units a file declares are registered in the
// process-wide registry on the first run; later runs find them registered already, unchanged.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "parser/lowering.h"
#include "parser/parse_source.h"

using bench::seconds_since;
using bench::Timings;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    const auto input = bench::read_file(argv[1]);
    if (!input) return 2;
    const std::string& text = *input;
    const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 5;

    Timings parse_only;
    Timings lower_only;
    Timings parse_and_lower;
    size_t declarations = 0;
    size_t records = 0;
    for (int run = 0; run < runs; ++run) {
        {
            auto start = std::chrono::steady_clock::now();
            auto ast = vok::parse_source(text);
            parse_only.seconds.push_back(seconds_since(start));
            if (!ast.ok()) {
                std::fprintf(stderr, "%s\n", ast.error().to_string().c_str());
                return 1;
            }
            declarations = ast->declarations.size();

            start = std::chrono::steady_clock::now();
            auto graph = vok::ast_to_graph(*ast, vok::LoweringOptions{});
            lower_only.seconds.push_back(seconds_since(start));
            if (!graph.ok()) {
                std::fprintf(stderr, "%s\n", graph.error().to_string().c_str());
                return 1;
            }
        }
        // The whole road of Graph.parse, with the tree dropped inside the timing as it is there.
        auto start = std::chrono::steady_clock::now();
        auto graph = vok::parse_to_graph(text);
        parse_and_lower.seconds.push_back(seconds_since(start));
        if (!graph.ok()) {
            std::fprintf(stderr, "%s\n", graph.error().to_string().c_str());
            return 1;
        }
        records = graph->entities().size() + graph->resources().size() + graph->flows().size() +
                  graph->roles().size() + graph->relations().size() +
                  graph->entity_instances().size() + graph->policies().size() +
                  graph->patterns().size() + graph->metrics().size() + graph->mappings().size() +
                  graph->projections().size() + graph->concept_changes().size();
    }
    const double megabytes = static_cast<double>(text.size()) / 1e6;
    std::printf("file: %s (%.2f MB, %zu declarations, %zu graph records), %d runs\n", argv[1],
                megabytes, declarations, records, runs);
    parse_only.report("parse:", megabytes);
    lower_only.report("lower:", megabytes);
    parse_and_lower.report("parse+lower:", megabytes);
    return 0;
}
