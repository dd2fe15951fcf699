// parse_to_graph (what Graph.parse runs) with the worker threads it chooses against none, on the
// cores the process is given (bench/workers.py runs it under taskset). The ways of running take
// turns round by round, so that a busy stretch of a shared machine falls on all of them alike, in
// an order shuffled each round: a parse pays for the memory the one before it left in other
// threads' arenas, and no way should always follow the same one.
//
// usage: workers_bench FILE [ROUNDS]
// Ways: "chosen" (the workers the parse chooses for the file and the cores), "none" (the calling
// thread alone), "declarations" (declaration nodes built on every core but one, up to three, and
// the text read whole) and "parts" (the text read in as many parts as cores, up to four, whatever
// its size, and no declaration workers). Prints one line per way: "<way> rounds: S S ..." (seconds,
// in round order) and "cpu: calling S all S" (median seconds of the calling thread's and of all
// threads' processor time).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "common/available_cores.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/lowering.h"

namespace {

struct Way {
    const char* name;
    std::optional<size_t> workers; // declaration workers forced, if any
    size_t parts;                  // parts forced (0: chosen)
};

double cpu_seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const auto input = bench::read_file(argv[1]);
    if (!input) return 2;
    const int rounds = argc == 3 ? std::max(1, std::atoi(argv[2])) : 9;
    const size_t cores = vok::available_cores();
    const Way ways[] = {
        {"chosen", std::nullopt, 0},
        {"none", 0, 1},
        {"declarations", std::min<size_t>(cores - 1, 3), 1},
        {"parts", 0, std::min<size_t>(cores, 4)},
    };
    constexpr size_t kWays = std::size(ways);
    // One parse first, untimed: the units the file declares join the registry then.
    if (!vok::parse_to_graph(*input).ok()) {
        std::fprintf(stderr, "%s does not parse\n", argv[1]);
        return 1;
    }
    std::vector<double> seconds[kWays];
    std::vector<double> calling_cpu[kWays];
    std::vector<double> all_cpu[kWays];
    std::mt19937 random(1);
    std::array<size_t, kWays> order;
    std::iota(order.begin(), order.end(), size_t{0});
    for (int round = 0; round < rounds; ++round) {
        std::shuffle(order.begin(), order.end(), random);
        for (const size_t k : order) {
            vok::build_ahead_for_testing(ways[k].workers);
            vok::grammar::read_in_parts_for_testing(ways[k].parts);
            const double calling_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
            const double all_start = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
            const auto start = std::chrono::steady_clock::now();
            // The graph is dropped inside the timing, as a parse whose graph is used and dropped.
            const bool ok = vok::parse_to_graph(*input).ok();
            seconds[k].push_back(bench::seconds_since(start));
            calling_cpu[k].push_back(cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - calling_start);
            all_cpu[k].push_back(cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - all_start);
            if (!ok) return 1;
        }
    }
    vok::build_ahead_for_testing(std::nullopt);
    vok::grammar::read_in_parts_for_testing(0);
    std::printf("file: %s (%zu bytes), %zu cores, %d rounds\n", argv[1], input->size(), cores,
                rounds);
    for (size_t k = 0; k < kWays; ++k) {
        std::printf("%-12s rounds:", ways[k].name);
        for (const double s : seconds[k])
            std::printf(" %.5f", s);
        std::printf("  cpu: calling %.5f all %.5f\n", median(calling_cpu[k]), median(all_cpu[k]));
    }
    return 0;
}
