#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// Small POSIX file helpers for files that must survive a crash. Every failure
// throws std::system_error whose what() reads "Cannot write <path>: <reason>",
// ready to be shown to a person.
namespace quellora {

// Creates `directory` and any missing parents, each new one with `mode`.
void createDirectories(const std::filesystem::path& directory, mode_t mode);

// A path that holds something other than a regular file of a usable size
// that this user may read: a folder, a named pipe, a device, a socket, a file
// over the size limit or without read permission. what() says which, in words
// for a person.
class UnusableFileError : public std::runtime_error {
public:
    UnusableFileError(const std::filesystem::path& file, std::string description)
        : std::runtime_error(file.string() + " is " + description)
        , description_(std::move(description)) {}

    // What the path holds, without the path: "a folder, not a file".
    const std::string& description() const { return description_; }

private:
    std::string description_;
};

// The whole file, or no value when it (or a folder on its path) does not
// exist. Symbolic links are followed. Never blocks on a named pipe and never
// reads more than `maxBytes` + 1 bytes, however large the file is or claims
// to be. Throws UnusableFileError as described above, std::system_error for
// any other failure to read.
std::optional<std::string> readFileIfPresent(const std::filesystem::path& file,
                                             std::size_t maxBytes);

// Where `path` ends up once symbolic links in its last component are
// followed: `path` itself when it is no link. The result need not exist (a
// dangling link). Throws std::system_error for a loop or an unreadable link.
std::filesystem::path resolvedLinkTarget(const std::filesystem::path& path);

struct AtomicWriteOptions {
    // The temporary file is `temporaryPrefix` plus six random characters, in
    // the same folder as the file so that the rename stays atomic.
    std::string temporaryPrefix;
    mode_t mode = 0600;
    // Runs once the temporary file is complete and synced, before the rename.
    std::function<void()> beforeRename;
};

// Replaces `file` so that a crash at any moment leaves either the old or the
// new contents: temporary file, fsync, rename, fsync of the folder. When
// `file` is a symbolic link, the file it points to is replaced and the link
// stays, so that a file kept elsewhere (a folder of dotfiles) goes on being
// the one in use.
void writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         const AtomicWriteOptions& options);

// Removes `file` if it is there; an absent file is not an error.
void removeFileIfPresent(const std::filesystem::path& file);

// Makes a completed rename or removal in `directory` durable. Best effort:
// some file systems refuse fsync on a folder, and the change itself is done.
void syncDirectory(const std::filesystem::path& directory) noexcept;

// The home folder: $HOME or, failing that, the password database's. Throws
// std::runtime_error when there is no home folder at all.
std::filesystem::path homeFolder();

// The folder an XDG base-directory variable names when it holds an absolute
// path, otherwise `underHome` in the home folder (which may throw, as above).
std::filesystem::path xdgBaseFolder(const char* variable, const std::filesystem::path& underHome);

// $XDG_CONFIG_HOME, or ~/.config.
std::filesystem::path xdgConfigHome();

} // namespace quellora
