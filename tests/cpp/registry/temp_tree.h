// A scratch directory tree for registry tests: created under the system's temporary directory
// with a name no other test run uses, and removed with everything in it when the object dies.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace vok::testing {

class TempTree {
public:
    TempTree() {
        static std::atomic<int> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = std::filesystem::temp_directory_path() /
                ("vok-registry-test-" + std::to_string(::getpid()) + "-" + std::to_string(stamp) +
                 "-" + std::to_string(counter++));
        std::filesystem::create_directories(root_);
        root_ = std::filesystem::canonical(root_);
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path path(const std::string& relative) const { return root_ / relative; }

    // Writes `content` to `relative`, creating the directories on the way.
    std::filesystem::path write(const std::string& relative,
                                const std::string& content = "") const {
        const auto target = path(relative);
        std::filesystem::create_directories(target.parent_path());
        std::ofstream(target, std::ios::binary) << content;
        return target;
    }

    std::filesystem::path make_dir(const std::string& relative) const {
        const auto target = path(relative);
        std::filesystem::create_directories(target);
        return target;
    }

private:
    std::filesystem::path root_;
};

} // namespace vok::testing
