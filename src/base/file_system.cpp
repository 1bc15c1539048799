#include "base/file_system.h"

#include "base/file_descriptor.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace quellora {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

void writeAll(int fd, std::string_view contents, const fs::path& file) {
    while (!contents.empty()) {
        const auto written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, "Cannot write " + file.string());
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

fs::path directoryOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

std::string whatItIs(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "a folder, not a file";
    case S_IFIFO:
        return "a named pipe, not a file";
    case S_IFSOCK:
        return "a socket, not a file";
    case S_IFCHR:
    case S_IFBLK:
        return "a device, not a file";
    default:
        return "not a regular file";
    }
}

std::string sizeInWords(std::size_t bytes) {
    constexpr std::size_t mebibyte = 1024 * 1024;
    return bytes % mebibyte == 0 ? std::to_string(bytes / mebibyte) + " MiB"
                                 : std::to_string(bytes) + " bytes";
}

} // namespace

void createDirectories(const fs::path& directory, mode_t mode) {
    fs::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (::mkdir(partial.c_str(), mode) == 0) {
            continue;
        }
        const int error = errno;
        struct stat status {};
        if (error == EEXIST && ::stat(partial.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            continue;
        }
        throwErrno(error == EEXIST ? ENOTDIR : error,
                   "Cannot create the folder " + directory.string());
    }
}

std::optional<std::string> readFileIfPresent(const fs::path& file, std::size_t maxBytes) {
    // O_NONBLOCK: opening a named pipe would otherwise wait for a writer for ever.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int error = errno;
        // ENOTDIR: a file stands where one of the folders would be.
        if (error == ENOENT || error == ENOTDIR) {
            return std::nullopt;
        }
        if (error == EACCES || error == EPERM) {
            throw UnusableFileError(file, "not readable (" +
                                              std::generic_category().message(error) + ")");
        }
        if (error == ENXIO) { // a socket
            throw UnusableFileError(file, whatItIs(S_IFSOCK));
        }
        throwErrno(error, "Cannot read " + file.string());
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throwErrno(errno, "Cannot read " + file.string());
    }
    if (!S_ISREG(status.st_mode)) {
        throw UnusableFileError(file, whatItIs(status.st_mode));
    }
    const auto tooLarge = [&] {
        return UnusableFileError(file, "larger than " + sizeInWords(maxBytes));
    };
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        throw tooLarge();
    }
    std::string contents;
    char buffer[8192];
    for (;;) {
        const auto count = ::read(fd.get(), buffer, sizeof buffer);
        if (count == 0) {
            return contents;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno(errno, "Cannot read " + file.string());
        }
        // A file that grows while it is read, or that reports no size.
        if (contents.size() + static_cast<std::size_t>(count) > maxBytes) {
            throw tooLarge();
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

fs::path resolvedLinkTarget(const fs::path& path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int maxLinks = 40;
    fs::path current = path;
    for (int followed = 0; followed <= maxLinks; ++followed) {
        std::error_code error;
        const auto target = fs::read_symlink(current, error);
        if (error == std::errc::invalid_argument || error == std::errc::no_such_file_or_directory) {
            return current; // not a link, or nothing there yet
        }
        if (error) {
            throwErrno(error.value(), "Cannot follow the link " + current.string());
        }
        current = target.is_absolute() ? target : directoryOf(current) / target;
    }
    throwErrno(ELOOP, "Cannot follow the link " + path.string());
}

void writeFileAtomically(const fs::path& requested, std::string_view contents,
                         const AtomicWriteOptions& options) {
    // Renaming over a link would replace the link itself with a plain file.
    const auto file = resolvedLinkTarget(requested);
    const auto directory = directoryOf(file);
    auto temporary = (directory / (options.temporaryPrefix + "XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        throwErrno(errno, "Cannot write " + file.string());
    }
    try {
        if (::fchmod(fd.get(), options.mode) != 0) {
            throwErrno(errno, "Cannot write " + file.string());
        }
        writeAll(fd.get(), contents, file);
        if (::fsync(fd.get()) != 0 || fd.close() != 0) {
            throwErrno(errno, "Cannot write " + file.string());
        }
        if (options.beforeRename) {
            options.beforeRename();
        }
        if (::rename(temporary.c_str(), file.c_str()) != 0) {
            throwErrno(errno, "Cannot replace " + file.string());
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    syncDirectory(directory);
}

void removeFileIfPresent(const fs::path& file) {
    if (::unlink(file.c_str()) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throwErrno(errno, "Cannot remove " + file.string());
    }
    syncDirectory(directoryOf(file));
}

void syncDirectory(const fs::path& directory) noexcept {
    const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::fsync(fd.get());
    }
}

fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    throw std::runtime_error("Cannot find the home folder: HOME is not set and user " +
                             std::to_string(::getuid()) + " has no password entry");
}

fs::path xdgBaseFolder(const char* variable, const fs::path& underHome) {
    if (const char* value = std::getenv(variable);
        value != nullptr && fs::path(value).is_absolute()) {
        return value;
    }
    return homeFolder() / underHome;
}

fs::path xdgConfigHome() {
    return xdgBaseFolder("XDG_CONFIG_HOME", ".config");
}

} // namespace quellora
