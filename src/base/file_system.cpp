#include "base/file_system.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // close() reports delayed write errors (NFS, quota), so its result counts.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

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

std::optional<std::string> readFileIfPresent(const fs::path& file) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        // ENOTDIR: a file stands where one of the folders would be.
        if (errno == ENOENT || errno == ENOTDIR) {
            return std::nullopt;
        }
        throwErrno(errno, "Cannot read " + file.string());
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
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

void writeFileAtomically(const fs::path& file, std::string_view contents,
                         const AtomicWriteOptions& options) {
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

fs::path xdgConfigHome() {
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME");
        configHome != nullptr && fs::path(configHome).is_absolute()) {
        return configHome;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return fs::path(home) / ".config";
    }
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
        return fs::path(entry->pw_dir) / ".config";
    }
    throw std::runtime_error("Cannot find the home folder: HOME is not set and user " +
                             std::to_string(::getuid()) + " has no password entry");
}

} // namespace quellora
