// The one golden-file convention of the C++ tests.
//
// A golden directory tests/golden/<kind>/ holds inputs (`name.vok`) with their expected output
// beside them (`name<expected_suffix>`, e.g. `name.json` or `name.formatted.vok`). The test renders
// every input and compares byte for byte. With VOK_UPDATE_GOLDEN=1 in the environment the expected
// files are rewritten instead (scripts/update-golden does that; review the diff before committing).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>

namespace vok::testing {

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Renders every input of tests/golden/<kind> and checks (or rewrites) its expected file; `render`
// may add failures of its own. Returns the number of inputs seen.
inline int check_golden_files(std::string_view kind, std::string_view expected_suffix,
                              const std::function<std::string(const std::string&)>& render) {
    namespace fs = std::filesystem;
    const bool update = std::getenv("VOK_UPDATE_GOLDEN") != nullptr;
    const fs::path dir = fs::path(VOK_SOURCE_DIR) / "tests/golden" / kind;
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const fs::path& input = entry.path();
        const std::string file = input.filename().string();
        if (input.extension() != ".vok" || file.ends_with(expected_suffix)) continue;
        SCOPED_TRACE(input.string());
        const std::string actual = render(slurp(input));
        const fs::path expected =
            dir / (file.substr(0, file.size() - 4) + std::string(expected_suffix));
        if (update) {
            std::ofstream(expected, std::ios::binary) << actual;
        } else {
            EXPECT_EQ(actual, slurp(expected)) << expected;
        }
        ++checked;
    }
    return checked;
}

} // namespace vok::testing
