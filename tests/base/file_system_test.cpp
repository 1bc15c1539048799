#include "base/file_system.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace quellora {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<std::string> value)
        : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        set(value);
    }
    ~ScopedVariable() { set(old_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_, value->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

    const char* name_;
    std::optional<std::string> old_;
};

struct FolderCase {
    const char* name;
    std::optional<std::string> home;
    std::optional<std::string> cacheHome;
    // Empty: the password database's home folder, then `.cache`.
    std::string expected;
};

class XdgBaseFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(XdgBaseFolderTest, FollowsTheVariableThenTheHomeFolder) {
    const ScopedVariable home("HOME", GetParam().home);
    const ScopedVariable cacheHome("XDG_CACHE_HOME", GetParam().cacheHome);
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    const fs::path expected = GetParam().expected.empty() ? fs::path(entry->pw_dir) / ".cache"
                                                          : fs::path(GetParam().expected);
    EXPECT_EQ(xdgBaseFolder("XDG_CACHE_HOME", ".cache"), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, XdgBaseFolderTest,
    ::testing::Values(FolderCase{"absoluteVariable", "/home/a", "/var/cache/a", "/var/cache/a"},
                      FolderCase{"relativeVariableIgnored", "/home/a", "cache", "/home/a/.cache"},
                      FolderCase{"noVariable", "/home/a", std::nullopt, "/home/a/.cache"},
                      FolderCase{"emptyHome", "", std::nullopt, ""},
                      FolderCase{"noHome", std::nullopt, std::nullopt, ""}),
    [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace quellora
