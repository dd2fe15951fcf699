// What parse_to_graph holds when a file fails or is interrupted: nothing of the direct road's once
// the tree road starts, and a large parse hands what it freed back to the system however it ends,
// while a successful or small one leaves that to its graph or to malloc.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "common/cancellation.h"
#include "common/large_block_allocator.h"
#include "common/memory_release.h"
#include "parser/grammar/compact_grammar.h"
#include "parser/lowering.h"

namespace vok {
namespace {

const std::string kUndefinedFlow = "Flow \"E1\" from \"Nobody\" to \"E1\"\n";
const std::string kLateWindow =
    "Metric \"m\" as: sum(f in flows over last 3000000000 \"days\": f.q)\n";

// What the tree-road hook saw when it last ran.
struct TreeRoad {
    bool reached = false;
    size_t mapped = 0;
    size_t releases = 0;
};
TreeRoad tree_road;

void note_tree_road() {
    tree_road = {true, large_block::mapped_bytes(), free_memory_releases()};
}

// Reads every text in one part (no workers), and notes when parse_to_graph turns to the tree road.
class FailedParseMemory : public ::testing::Test {
protected:
    void SetUp() override {
        grammar::read_in_parts_for_testing(1);
        on_tree_road_for_testing(note_tree_road);
    }
    void TearDown() override {
        on_tree_road_for_testing(nullptr);
        grammar::read_in_parts_for_testing(0);
    }
    static ParseResult<Graph> parse(const std::string& source) {
        tree_road = {};
        return parse_to_graph(source);
    }
};

// More than the 8 MiB from which a parse counts as large, read quickly (mostly comment), with too
// few declarations for nodes built ahead on workers: 1,100 policies of 100 terms, then `tail`.
std::string large_file(const std::string& tail) {
    const std::string comment = "// " + std::string(7400, 'c') + "\n";
    std::string terms;
    for (int i = 0; i < 100; ++i)
        terms += " + a";
    std::string text = "Entity \"E1\"\n";
    for (int i = 0; i < 1100; ++i)
        text += comment + "Policy p" + std::to_string(i) + " as: a" + terms + "\n";
    return text + tail;
}

// The sink's pass arrays (and the pairs of the tree) of a file this size are large blocks, whose
// bytes are counted: when the tree road starts, none of the direct road's is left, wherever the
// direct road gave up.
TEST_F(FailedParseMemory, TheTreeRoadStartsWithNothingOfTheDirectRoads) {
    std::string body;
    for (int i = 0; i < 100000; ++i)
        body += "Entity \"E" + std::to_string(i) + "\"\n";
    for (const std::string& source : {
             "@profile \"nowhere\"\n" + body, // refused before the lowering reads the sink
             body + kUndefinedFlow,           // refused by the lowering, in a late pass
             body + kLateWindow,              // refused by the builder, on the last declaration
         }) {
        const size_t before = large_block::mapped_bytes();
        EXPECT_FALSE(parse(source).ok());
        EXPECT_TRUE(tree_road.reached);
        EXPECT_EQ(tree_road.mapped, before);
        EXPECT_EQ(large_block::mapped_bytes(), before);
    }
}

// A large failing parse hands back what the direct road freed before the tree road starts, and
// the rest once it has failed; a successful one leaves that to its graph, a small one to malloc.
TEST_F(FailedParseMemory, OnlyLargeFailuresHandMemoryBack) {
    size_t releases = free_memory_releases();
    EXPECT_FALSE(parse(large_file(kUndefinedFlow)).ok());
    EXPECT_EQ(tree_road.releases, releases + 1);
    EXPECT_EQ(free_memory_releases(), releases + 2);

    // Failing while the grammar reads: no tree road.
    releases = free_memory_releases();
    EXPECT_FALSE(parse(large_file("Entity\n")).ok());
    EXPECT_FALSE(tree_road.reached);
    EXPECT_EQ(free_memory_releases(), releases + 1);

    releases = free_memory_releases();
    EXPECT_TRUE(parse(large_file("")).ok());
    EXPECT_EQ(free_memory_releases(), releases);
    EXPECT_FALSE(parse("Entity \"A\"\n" + kUndefinedFlow).ok());
    EXPECT_TRUE(tree_road.reached);
    EXPECT_EQ(free_memory_releases(), releases);
}

size_t consultations = 0;
size_t stop_at = 0; // the consultation that stops the parse (0: none)
bool out_of_memory = false;
bool stop_after = false; // every consultation from the stopping one on stops the parse

bool counting_check(void*) {
    ++consultations;
    const bool stopping =
        stop_at != 0 && (consultations == stop_at || (stop_after && consultations > stop_at));
    if (!stopping) return false;
    if (out_of_memory) throw std::bad_alloc();
    return true;
}

// Runs parse_to_graph(source) with counting_check installed, the poll countdown restarted, so that
// each run consults the check at the same points.
ParseResult<Graph> counted_parse(const std::string& source) {
    const CancellationScope scope(counting_check, nullptr);
    const size_t stop = std::exchange(stop_at, 0);
    poll_cancellation_now();
    consultations = 0;
    stop_at = stop;
    tree_road = {};
    return parse_to_graph(source);
}

// Stopped at points spread over both roads, by Ctrl-C or by memory running out, a large parse
// hands back what it freed on the way out (and, past the direct road, before the tree road too).
TEST_F(FailedParseMemory, StoppedLargeParsesHandMemoryBack) {
    const std::string source = large_file(kUndefinedFlow);
    stop_at = 0;
    EXPECT_FALSE(counted_parse(source).ok());
    const size_t total = consultations;
    ASSERT_GE(total, 16u);
    bool stopped_in_tree_road = false;
    for (size_t stop = 1; stop <= total; stop += total / 8) {
        for (const bool memory : {false, true}) {
            const size_t releases = free_memory_releases();
            stop_at = stop;
            out_of_memory = memory;
            if (memory) {
                EXPECT_THROW((void)counted_parse(source), std::bad_alloc);
            } else {
                EXPECT_THROW((void)counted_parse(source), OperationCancelled);
            }
            EXPECT_EQ(free_memory_releases(), releases + (tree_road.reached ? 2 : 1)) << stop;
            stopped_in_tree_road = stopped_in_tree_road || tree_road.reached;
        }
    }
    EXPECT_TRUE(stopped_in_tree_road);
    stop_at = 0;
    out_of_memory = false;
}

// Stopped anywhere, with its nodes built ahead on workers, a parse leaves what it built to be freed
// after the call has returned, the workers stopped first: they read the caller's source, which the
// caller may free at once (a worker still reading it is an AddressSanitizer report). The large
// blocks of its pairs are unmapped soon after.
TEST_F(FailedParseMemory, StoppedParsesFreeTheirStateAfterReturning) {
    std::string body;
    for (int i = 0; i < 100000; ++i)
        body += "Entity \"E" + std::to_string(i) + "\"\nPolicy p" + std::to_string(i) +
                " as: a > " + std::to_string(i) + "\n";
    const size_t before = large_block::mapped_bytes();
    // Without workers the calling thread's consultations are the same in every run; with them, it
    // consults more while it waits for a worker and less where the workers build, so the stops
    // spread over the run without workers land anywhere from the grammar to the last pass, and
    // past the end now and then.
    stop_at = 0;
    EXPECT_TRUE(counted_parse(body).ok());
    const size_t total = consultations;
    ASSERT_GE(total, 16u);
    build_ahead_for_testing(2);
    stop_after = true;
    size_t stopped = 0;
    for (size_t stop = total / 16; stop < total; stop += total / 8) {
        auto source = std::make_unique<std::string>(body);
        stop_at = stop;
        try {
            EXPECT_TRUE(counted_parse(*source).ok());
            EXPECT_LT(consultations, stop);
        } catch (const OperationCancelled&) {
            ++stopped;
        }
        source.reset();
        // A liveness wait, not a timing: the freeing thread has nothing else to do.
        for (int waited = 0; waited < 6000 && large_block::mapped_bytes() != before; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(large_block::mapped_bytes(), before) << stop;
    }
    EXPECT_GT(stopped, 0u);
    stop_at = 0;
    stop_after = false;
    build_ahead_for_testing(std::nullopt);
}

} // namespace
} // namespace vok
