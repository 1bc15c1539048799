#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Small POSIX file helpers for files that must survive a crash. Every failure
// throws std::system_error whose what() reads "Cannot write <path>: <reason>",
// ready to be shown to a person.
namespace quellora {

// Creates `directory` and any missing parents, each new one with `mode`.
void createDirectories(const std::filesystem::path& directory, mode_t mode);

// The whole file, or no value when it (or a folder on its path) does not exist.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& file);

struct AtomicWriteOptions {
    // The temporary file is `temporaryPrefix` plus six random characters, in
    // the same folder as the file so that the rename stays atomic.
    std::string temporaryPrefix;
    mode_t mode = 0600;
    // Runs once the temporary file is complete and synced, before the rename.
    std::function<void()> beforeRename;
};

// Replaces `file` so that a crash at any moment leaves either the old or the
// new contents: temporary file, fsync, rename, fsync of the folder.
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         const AtomicWriteOptions& options);

// Removes `file` if it is there; an absent file is not an error.
void removeFileIfPresent(const std::filesystem::path& file);

// Makes a completed rename or removal in `directory` durable. Best effort:
// some file systems refuse fsync on a folder, and the change itself is done.
void syncDirectory(const std::filesystem::path& directory) noexcept;

// $XDG_CONFIG_HOME when it is set to an absolute path, otherwise ~/.config
// with the home folder taken from $HOME or, failing that, the password
// database. Throws std::runtime_error when there is no home folder at all.
std::filesystem::path xdgConfigHome();

} // namespace quellora
