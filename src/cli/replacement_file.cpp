#include "cli/replacement_file.h"

#include "cli/command_error.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quellora {
namespace {

// The file a link at `path` leads to, when it may be written through: the
// link and its target must be this user's. Someone who can plant a link in
// a shared folder must not get our output written over a file of theirs or
// of ours.
std::filesystem::path resolvedTarget(const std::filesystem::path& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return path;
    }
    std::error_code error;
    auto resolved = std::filesystem::canonical(path, error);
    if (error) {
        return path; // a dangling link is replaced, not followed
    }
    if (link.st_uid != ::geteuid()) {
        throw CommandError::badInput(
            fmt::format("\"{}\" is another user's link; not writing through it", path.string()));
    }
    struct stat target {};
    if (::stat(resolved.c_str(), &target) == 0 && target.st_uid != ::geteuid()) {
        throw CommandError::badInput(fmt::format(
            "\"{}\" links to another user's file; not writing through it", path.string()));
    }
    return resolved;
}

// The target's permission bits, never set-user-ID, set-group-ID or sticky
// ones; for a new file what open(2) would give it.
mode_t permissionsFor(const std::filesystem::path& target) {
    struct stat existing {};
    if (::stat(target.c_str(), &existing) == 0) {
        return existing.st_mode & 0777;
    }
    // umask can only be read by setting it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void syncDirectory(const std::filesystem::path& directory) {
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        // The rename has happened; this only makes it durable sooner.
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace

ReplacementFile::ReplacementFile(const std::filesystem::path& target_)
    : target(resolvedTarget(target_))
    , displayName(target_) {
    auto directory = target.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    // Hidden, and named after the target so that a leftover is recognisable.
    std::string name = ".";
    name += target.filename().string();
    name += ".XXXXXX";
    std::string pattern = (directory / name).string();
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        throw CommandError::failure(fmt::format("cannot create a file in \"{}\": {}",
                                                directory.string(), std::strerror(errno)));
    }
    temporaryPath = pattern;
}

ReplacementFile::~ReplacementFile() {
    if (fd >= 0) {
        ::close(fd);
    }
    if (!committed) {
        ::unlink(temporaryPath.c_str());
    }
}

void ReplacementFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            fail("write");
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void ReplacementFile::commit() {
    if (::fchmod(fd, permissionsFor(target)) != 0 || ::fsync(fd) != 0) {
        fail("write");
    }
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) {
        fail("write");
    }
    if (::rename(temporaryPath.c_str(), target.c_str()) != 0) {
        fail("replace");
    }
    committed = true;
    syncDirectory(target.parent_path().empty() ? "." : target.parent_path());
}

void ReplacementFile::fail(std::string_view action) const {
    throw CommandError::failure(
        fmt::format("cannot {} \"{}\": {}", action, displayName.string(), std::strerror(errno)));
}

} // namespace quellora
