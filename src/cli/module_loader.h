#pragma once

#include <filesystem>
#include <vector>

namespace quellora {

// The commands that need large libraries live in modules the executable
// loads only when they run: the tray and the control commands (Qt's GUI,
// widgets and D-Bus, the X client libraries) and `process` (libsndfile and
// its codecs). So `quellora run` maps QtCore, PipeWire and little else.
//
// A module exports one function, `quelloraModule`, returning its table of
// entry points, whose first member is the version it was built as.

// Where module `fileName` may be, in the order tried: beside the executable
// (a build tree), then where the package installs it, `installedRelativePath`
// from the executable's folder.
std::vector<std::filesystem::path>
moduleCandidates(const std::filesystem::path& executable,
                 const std::filesystem::path& installedRelativePath, const char* fileName);

// The table of module `fileName`, loaded and kept for the life of the
// process. Throws CommandError (failure) naming the files tried and why each
// could not be used.
const void* loadModuleTable(const char* fileName, const char* (*versionOf)(const void* table));

template <typename Module>
const Module& loadModule() {
    static const Module& module =
        *static_cast<const Module*>(loadModuleTable(Module::fileName, [](const void* table) {
            return static_cast<const Module*>(table)->version;
        }));
    return module;
}

} // namespace quellora
