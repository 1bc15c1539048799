#include "distribution/dev_build.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quellora {
namespace {

namespace fs = std::filesystem;

DevBuild::Signs signsWith(std::optional<std::string> devVariable, bool marked, fs::path path) {
    return {std::move(devVariable), marked, std::move(path)};
}

TEST(DevBuildTest, EachSignCountsOnItsOwn) {
    EXPECT_TRUE(DevBuild::isActive(signsWith("1", false, "/usr/bin/quellora")));
    EXPECT_TRUE(DevBuild::isActive(signsWith(std::nullopt, true, "/usr/bin/quellora")));
    EXPECT_TRUE(
        DevBuild::isActive(signsWith(std::nullopt, false, "/home/a/src/q/.build/dev/quellora")));
    EXPECT_FALSE(DevBuild::isActive(signsWith(std::nullopt, false, "/usr/bin/quellora")));
}

TEST(DevBuildTest, OnlyTheExactVariableValueCounts) {
    for (const char* value : {"true", "0", "", "1 ", "yes"}) {
        EXPECT_FALSE(DevBuild::isActive(signsWith(value, false, "/usr/bin/quellora"))) << value;
    }
}

TEST(DevBuildTest, APathIsJudgedAfterResolvingSymbolicLinks) {
    const testing::TemporaryDirectory scratch;
    const auto& root = scratch.path();
    fs::create_directories(root / ".build" / "dev");
    fs::create_directories(root / "bin");
    const auto target = root / ".build" / "dev" / "quellora";
    std::ofstream(target) << "binary";
    fs::create_symlink(target, root / "bin" / "quellora");
    std::ofstream(root / "bin" / "release") << "binary";

    EXPECT_TRUE(DevBuild::isActive(signsWith(std::nullopt, false, root / "bin" / "quellora")));
    EXPECT_FALSE(DevBuild::isActive(signsWith(std::nullopt, false, root / "bin" / "release")));
}

} // namespace
} // namespace quellora
