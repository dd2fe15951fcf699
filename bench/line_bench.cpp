// Speed and memory of parse_to_graph (what Graph.parse runs) on inputs of one declaration per line
// (`Entity "E0"`, `Role "R0"`, `Resource "X0"`, ...) and on one long operator chain
// (`Policy p as: a + a + ... + a`): the shapes where the cost per declaration or per term, not the
// grammar, decides.
//
// usage: line_bench KIND [COUNT [RUNS]]
//   KIND   Entity, Role or Resource (COUNT lines, default 1,000,000), or chain (a chain of about
//          COUNT bytes, default 10,000,000)
// or:    line_bench file PATH [RUNS]   (any source file, such as generate_model.py's model; its
//          declarations are counted as its top-level lines that start with a letter)
// Reports the best of RUNS (default 3) timed parses; the heap the finished graph holds (bytes in
// use by malloc while only the graph is alive, per record for declarations); the peak resident
// memory of the first parse above the resident memory before it, and its ratio to the graph; and
// the resident memory after the graph is dropped and after a second parse of the same input is
// dropped, which shows whether freed memory is reused and returned.
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "bench_support.h"
#include "common/large_block_allocator.h"
#include "parser/lowering.h"

namespace {

// A field of /proc/self/status in MB (VmRSS, VmHWM).
double status_mb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line[length] == ':') {
            return std::strtod(line.c_str() + length + 1, nullptr) / 1024.0;
        }
    }
    return 0;
}

// Starts a new peak: VmHWM falls back to the current resident size.
void reset_peak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// malloc's blocks in use, and the large blocks the graph maps past malloc.
size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd + vok::large_block::mapped_bytes();
}

std::string make_input(const std::string& kind, size_t count, size_t& declarations) {
    std::string text;
    if (kind == "chain") {
        text = "Policy p as: a";
        while (text.size() + 4 <= count)
            text += " + a";
        text += '\n';
        declarations = 1;
        return text;
    }
    const char* prefix = kind == "Entity" ? "E" : kind == "Role" ? "R" : "X";
    text.reserve(count * (kind.size() + 12));
    for (size_t i = 0; i < count; ++i) {
        text += kind;
        text += " \"";
        text += prefix;
        text += std::to_string(i);
        text += "\"\n";
    }
    declarations = count;
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s Entity|Role|Resource|chain [COUNT [RUNS]]\n", argv[0]);
        std::fprintf(stderr, "       %s file PATH [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    if (kind != "Entity" && kind != "Role" && kind != "Resource" && kind != "chain" &&
        !(kind == "file" && argc > 2)) {
        std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
        return 2;
    }
    const size_t count = kind == "file"    ? 0
                         : argc > 2        ? std::strtoul(argv[2], nullptr, 10)
                         : kind == "chain" ? 10'000'000
                                           : 1'000'000;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    size_t declarations = 0;
    std::string text;
    if (kind == "file") {
        auto input = bench::read_file(argv[2]);
        if (!input) return 2;
        text = std::move(*input);
        // Roughly: every declaration starts a line with a letter; continuation lines are indented.
        for (size_t i = 0; i < text.size(); ++i) {
            if ((i == 0 || text[i - 1] == '\n') &&
                std::isalpha(static_cast<unsigned char>(text[i])))
                ++declarations;
        }
    } else {
        text = make_input(kind, count, declarations);
    }
    const double megabytes = static_cast<double>(text.size()) / 1e6;

    // The first parse, for memory: its peak, and what the graph keeps once the rest is freed.
    const size_t heap_before = heap_in_use();
    const double rss_before = status_mb("VmRSS");
    reset_peak();
    auto start = std::chrono::steady_clock::now();
    std::optional<vok::ParseResult<vok::Graph>> graph(vok::parse_to_graph(text));
    bench::Timings timings;
    timings.seconds.push_back(bench::seconds_since(start));
    if (!graph->ok()) {
        std::fprintf(stderr, "%s\n", (*graph).error().to_string().c_str());
        return 1;
    }
    const double peak = status_mb("VmHWM") - rss_before;
    const double graph_bytes = static_cast<double>(heap_in_use() - heap_before);
    graph.reset();
    const double rss_dropped = status_mb("VmRSS");

    reset_peak();
    double second_peak = 0;
    for (int run = 0; run < runs; ++run) {
        start = std::chrono::steady_clock::now();
        auto again = vok::parse_to_graph(text);
        timings.seconds.push_back(bench::seconds_since(start));
        if (run == 0) second_peak = status_mb("VmHWM") - rss_before;
    }
    const double rss_after = status_mb("VmRSS");

    std::printf("input: %s, %.2f MB, %zu declarations\n", kind.c_str(), megabytes, declarations);
    const double best = *std::min_element(timings.seconds.begin(), timings.seconds.end());
    std::printf("parse_to_graph: best %.4f s (%.1f MB/s, %.3f us per declaration)\n", best,
                megabytes / best, best * 1e6 / static_cast<double>(declarations));
    std::printf("graph: %.1f MB in use", graph_bytes / 1e6);
    if (kind == "chain") {
        std::printf(" (%.0f bytes per term)\n", graph_bytes / static_cast<double>(count / 4));
    } else {
        std::printf(" (%.0f bytes per record)\n", graph_bytes / static_cast<double>(declarations));
    }
    std::printf("peak: %.1f MB above the start (%.2f times the graph)\n", peak,
                peak * 1e6 / graph_bytes);
    std::printf("resident above the start: %.1f MB once the graph is dropped; peak of the second "
                "parse %.1f MB; %.1f MB after %d more parses\n",
                rss_dropped - rss_before, second_peak, rss_after - rss_before, runs);
    return 0;
}
