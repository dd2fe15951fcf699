// Times the JSON reader on a document: json_bench <file.json> [repetitions]
// Prints the best time of the repetitions and the throughput in MB/s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "json/text_deserializer.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: json_bench <file.json> [repetitions]\n");
        return 2;
    }
    const auto input = bench::read_file(argv[1]);
    if (!input) return 2;
    const std::string& text = *input;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 20;
    double best = 1e9;
    for (int i = 0; i < reps; ++i) {
        auto start = std::chrono::steady_clock::now();
        auto v = vok::json::parse(text);
        auto end = std::chrono::steady_clock::now();
        if (!v.ok()) {
            std::fprintf(stderr, "%s\n", v.error().to_string().c_str());
            return 1;
        }
        best = std::min(best, std::chrono::duration<double>(end - start).count());
    }
    std::printf("json_parse bytes=%zu seconds=%.6f mb_per_s=%.1f\n", text.size(), best,
                text.size() / best / 1e6);
    return 0;
}
