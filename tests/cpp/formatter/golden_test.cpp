// Every file in tests/golden/formatter formats to the expected text beside it
// (name.formatted.vok), and the source obeys the formatter's laws (golden.h has the convention
// and how to regenerate the expected files).
#include <gtest/gtest.h>

#include <filesystem>

#include "formatter/format_test_util.h"
#include "golden.h"

namespace vok {
namespace {

TEST(FormatterGolden, EveryFileFormatsToItsExpectedText) {
    const int checked =
        testing::check_golden_files("formatter", ".formatted.vok", [](const std::string& source) {
            testing::expect_reads_back(source);
            return testing::formatted(source);
        });
    EXPECT_GT(checked, 0);
}

TEST(FormatterGolden, ShippedExampleReadsBack) {
    testing::expect_reads_back(
        testing::slurp(std::filesystem::path(VOK_SOURCE_DIR) / "examples/warehouse.vok"));
}

} // namespace
} // namespace vok
