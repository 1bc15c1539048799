#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace quellora::fuzzing {

// One scratch folder per fuzzer process, in memory where the system has
// it, emptied before every input so that no run sees another's files.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path shm = "/dev/shm";
        auto pattern =
            ((std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path()) /
             "quellora-fuzz-XXXXXX")
                .string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a scratch folder");
        }
        return std::filesystem::path(pattern);
    }();
    return folder;
}

inline void emptyScratchFolder() {
    for (const auto& entry : std::filesystem::directory_iterator(scratchFolder())) {
        std::filesystem::remove_all(entry.path());
    }
}

inline void writeInput(const std::filesystem::path& file, const std::uint8_t* data,
                       std::size_t size) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace quellora::fuzzing
