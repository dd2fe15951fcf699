// Every pack in tests/golden/pack is written and hashed as the expected files beside it say:
// <name>.input.json is read, <name>.json holds its document text, <name>.hash its content hash.
// VOK_UPDATE_GOLDEN=1 rewrites the expected files (review the diff before committing; the Python
// suite checks the hashes against an independent computation).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "pack_test_util.h"
#include "semantic_pack/canonical_json.h"

namespace vok::semantic_pack {
namespace {

void expect_file(const std::filesystem::path& path, const std::string& actual, bool update) {
    if (update) {
        std::ofstream(path, std::ios::binary) << actual;
    } else {
        EXPECT_EQ(actual, testing::slurp(path)) << path;
    }
}

TEST(PackGolden, EveryPackIsWrittenAndHashedAsExpected) {
    const bool update = std::getenv("VOK_UPDATE_GOLDEN") != nullptr;
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(testing::golden_dir())) {
        const std::string file = entry.path().filename().string();
        const std::string suffix = ".input.json";
        if (!file.ends_with(suffix)) continue;
        const std::string stem = file.substr(0, file.size() - suffix.size());
        SemanticPack pack = testing::read_pack(testing::slurp(entry.path()));
        const std::string document = pack.serialize();
        expect_file(testing::golden_dir() / (stem + ".json"), document + "\n", update);
        expect_file(testing::golden_dir() / (stem + ".hash"), pack.content_hash() + "\n", update);
        // The written document reads back to the same pack and is written the same again.
        SemanticPack again = testing::read_pack(document);
        EXPECT_EQ(again, pack);
        EXPECT_EQ(again.serialize(), document);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace vok::semantic_pack
