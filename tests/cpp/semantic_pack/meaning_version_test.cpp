#include "semantic_pack/meaning_version.h"

#include <gtest/gtest.h>

namespace vok::semantic_pack {
namespace {

TEST(MeaningVersion, SegmentsAreDigitsWithAnOptionalPlus) {
    using Segments = std::vector<uint32_t>;
    EXPECT_EQ(parse_version_segments("1.2.3"), Segments({1, 2, 3}));
    EXPECT_EQ(parse_version_segments("+2.007"), Segments({2, 7}));
    EXPECT_EQ(parse_version_segments("4294967295"), Segments({4294967295u}));
    EXPECT_EQ(parse_version_segments("0000000000004294967295"), Segments({4294967295u}));
    for (const char* invalid : {"", ".", "1.", ".1", "1..2", "4294967296", "1.2-rc1", "-1", "+",
                                "++1", " 1", "1 ", "1.x", "v1"}) {
        EXPECT_EQ(parse_version_segments(invalid), std::nullopt) << invalid;
    }
}

TEST(MeaningVersion, ComparesSegmentsFromTheLeftWithMissingOnesZero) {
    struct Case {
        const char* previous;
        const char* next;
        int expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"1.0", "1.0.1", 1},
             {"2", "1.9", 0},
             {"1.9", "1.10", 1},
             {"1.2", "1.2.0", 0},
             {"1.2.0", "1.2.0", 0},
             {"1.2.0", "1.1.9", 0},
             {"1", "+2", 1},
             {"1.x", "2.0.0", 2},
             {"", "1", 2},
             {"1", "", 2},
             {"1", "4294967296", 2},
         }) {
        EXPECT_EQ(compare_meaning_versions(c.previous, c.next), c.expected)
            << c.previous << " -> " << c.next;
    }
}

} // namespace
} // namespace vok::semantic_pack
