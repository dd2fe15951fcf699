// Every file in golden/ formats to the expected text beside it (name.formatted.vok), and the
// expected text obeys the formatter's laws. VOK_UPDATE_GOLDEN=1 rewrites the expected files
// (review the diff before committing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formatter/format_test_util.h"

namespace vok {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool is_expected_file(const fs::path& path) {
    return path.filename().string().ends_with(".formatted.vok");
}

TEST(FormatterGolden, EveryFileFormatsToItsExpectedText) {
    const bool update = std::getenv("VOK_UPDATE_GOLDEN") != nullptr;
    const fs::path dir = fs::path(VOK_SOURCE_DIR) / "tests/cpp/formatter/golden";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const fs::path& input = entry.path();
        if (input.extension() != ".vok" || is_expected_file(input)) continue;
        SCOPED_TRACE(input.string());
        const std::string source = slurp(input);
        const std::string actual = testing::formatted(source);
        fs::path expected = input;
        expected.replace_extension(".formatted.vok");
        if (update) {
            std::ofstream(expected, std::ios::binary) << actual;
        } else {
            EXPECT_EQ(actual, slurp(expected));
        }
        testing::expect_reads_back(source);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(FormatterGolden, ShippedExampleReadsBack) {
    testing::expect_reads_back(slurp(fs::path(VOK_SOURCE_DIR) / "examples/warehouse.vok"));
}

} // namespace
} // namespace vok
