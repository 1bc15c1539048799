#include "support/temporary_directory.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace quellora::testing {

TemporaryDirectory::TemporaryDirectory() {
    auto pattern = (std::filesystem::temp_directory_path() / "quellora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    root = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

std::map<std::string, std::string> TemporaryDirectory::snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string bytes;
        if (entry.is_regular_file()) {
            std::ifstream stream(entry.path(), std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(stream), {});
        }
        files[std::filesystem::relative(entry.path(), root).string()] = bytes;
    }
    return files;
}

} // namespace quellora::testing
