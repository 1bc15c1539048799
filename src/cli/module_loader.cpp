#include "cli/module_loader.h"

#include "cli/command_error.h"

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <system_error>

namespace quellora {
namespace {

namespace fs = std::filesystem;

constexpr const char* entryName = "quelloraModule";
using ModuleEntry = const void* (*)();

// The table of `file` if it is this version's module; `problem` says why not.
const void* load(const fs::path& file, const char* (*versionOf)(const void*),
                 std::string& problem) {
    std::error_code missing;
    if (!fs::exists(file, missing)) {
        problem = file.string() + ": not found";
        return nullptr;
    }
    // Kept loaded to the end: Qt's libraries cannot be unloaded safely.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        problem = ::dlerror();
        return nullptr;
    }
    const auto entry = reinterpret_cast<ModuleEntry>(::dlsym(handle, entryName));
    const void* table = entry != nullptr ? entry() : nullptr;
    if (table == nullptr) {
        problem = file.string() + ": not a Quellora module";
        return nullptr;
    }
    if (std::strcmp(versionOf(table), QUELLORA_VERSION) != 0) {
        problem = file.string() + ": belongs to Quellora " + versionOf(table) + ", not " +
                  QUELLORA_VERSION;
        return nullptr;
    }
    return table;
}

} // namespace

std::vector<fs::path> moduleCandidates(const fs::path& executable,
                                       const fs::path& installedRelativePath,
                                       const char* fileName) {
    const auto folder = executable.parent_path();
    return {folder / fileName, (folder / installedRelativePath / fileName).lexically_normal()};
}

const void* loadModuleTable(const char* fileName, const char* (*versionOf)(const void* table)) {
    std::error_code error;
    const auto executable = fs::canonical("/proc/self/exe", error);
    if (error) {
        throw CommandError::failure(std::string("cannot find this executable to load ") + fileName +
                                    ": " + error.message());
    }
    std::string problems;
    for (const auto& candidate : moduleCandidates(executable, QUELLORA_MODULE_DIR, fileName)) {
        std::string problem;
        if (const void* table = load(candidate, versionOf, problem)) {
            return table;
        }
        problems += (problems.empty() ? "" : "; ") + problem;
    }
    throw CommandError::failure(std::string("cannot load ") + fileName + " (" + problems + ")");
}

} // namespace quellora
