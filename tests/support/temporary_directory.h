#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace quellora::testing {

// A directory of its own for one test, removed with its contents.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

    // Every file below the directory by relative path, with its bytes.
    std::map<std::string, std::string> snapshot() const;

private:
    std::filesystem::path root;
};

} // namespace quellora::testing
