// The CALM export of every model in tests/golden/calm matches name.calm.json beside it, and the
// import of that export, exported again, matches name.reimported.calm.json: what survives the
// round trip. Both are stamped from a fixed SOURCE_DATE_EPOCH. VOK_UPDATE_GOLDEN=1 rewrites the
// expected documents (review the diff before committing).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "calm/export.h"
#include "calm/import.h"
#include "parser/lowering.h"
#include "json/writer.h"

namespace vok::calm {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void check_or_update(const fs::path& path, const std::string& document) {
    // The files end with a line feed; the export itself does not.
    const std::string actual = document + "\n";
    if (std::getenv("VOK_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
    } else {
        EXPECT_EQ(actual, slurp(path)) << path;
    }
}

TEST(CalmGolden, ExportAndReimportOfEveryModel) {
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    const fs::path dir = fs::path(VOK_SOURCE_DIR) / "tests/golden/calm";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const fs::path& input = entry.path();
        if (input.extension() != ".vok") continue;
        SCOPED_TRACE(input.string());
        auto graph = parse_to_graph(slurp(input));
        ASSERT_TRUE(graph.ok()) << graph.error().to_string();
        const std::string exported = json::to_pretty_string(export_calm(*graph));
        check_or_update(fs::path(input).replace_extension(".calm.json"), exported);

        auto reimported = import_calm(exported);
        ASSERT_TRUE(reimported.ok()) << reimported.error().message();
        check_or_update(fs::path(input).replace_extension(".reimported.calm.json"),
                        json::to_pretty_string(export_calm(*reimported)));
        ++checked;
    }
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace vok::calm
