#include "distribution/update_installation.h"

#include "base/file_descriptor.h"
#include "distribution/debian_package.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

namespace quellora {
namespace {

namespace fs = std::filesystem;

using Outcome = UpdateInstallOutcome;

Outcome rejected(std::string message) {
    return {UpdateInstallerExit::rejected, std::move(message)};
}

std::optional<std::string> privateFolderProblem(const fs::path& folder) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        return fmt::format("{} cannot be examined ({})", folder.string(), std::strerror(errno));
    }
    if (!S_ISDIR(status.st_mode)) {
        return fmt::format("{} is not a folder", folder.string());
    }
    if (status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return fmt::format("{} can be written by others", folder.string());
    }
    return std::nullopt;
}

// A new folder only this user can write, removed with what is in it.
class PrivateFolder {
public:
    explicit PrivateFolder(const fs::path& parent) {
        auto pattern = (parent / "quellora-update-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create a folder in " + parent.string());
        }
        path_ = pattern;
        // Readable, so that apt can hand the file to its unprivileged download user.
        ::chmod(path_.c_str(), 0755);
    }
    ~PrivateFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// What went wrong in the reading child, sent through a pipe.
struct ChildFailure {
    enum Stage : int {
        dropRights = 1,
        open = 2,
        notRegular = 3,
        read = 4,
        closeInherited = 5
    } stage;
    int error;
};

[[noreturn]] void failInChild(int reportFd, ChildFailure::Stage stage, int error) {
    const ChildFailure failure{stage, error};
    [[maybe_unused]] const auto ignored = ::write(reportFd, &failure, sizeof failure);
    ::_exit(1);
}

// Closes every descriptor but `keep`: in the reading child, nothing root
// holds may pass to a process that the user's rights then govern. A staged
// path such as /proc/self/fd/N would otherwise reopen whatever root had
// open there.
bool closeAllBut(std::array<int, 2> keep) {
    std::sort(keep.begin(), keep.end());
    unsigned int from = 0;
    for (const int fd : keep) {
        const auto kept = static_cast<unsigned int>(fd);
        if (kept > from && ::close_range(from, kept - 1, 0) != 0) {
            return false;
        }
        from = kept + 1;
    }
    return ::close_range(from, ~0U, 0) == 0;
}

// In the child: close what it inherited, take on the reader's rights for
// good, then stream the file into `outputFd`. Only system calls, as befits a
// child of a threaded process.
[[noreturn]] void streamAsReader(const char* source, std::optional<UserIdentity> reader,
                                 int outputFd, int reportFd) {
    if (!closeAllBut({outputFd, reportFd})) {
        failInChild(reportFd, ChildFailure::closeInherited, errno);
    }
    if (reader && (::setgroups(1, &reader->gid) != 0 || ::setgid(reader->gid) != 0 ||
                   ::setuid(reader->uid) != 0)) {
        failInChild(reportFd, ChildFailure::dropRights, errno);
    }
    const int fd = ::open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        failInChild(reportFd, ChildFailure::open, errno);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        failInChild(reportFd, ChildFailure::notRegular, 0);
    }
    char buffer[65536];
    for (;;) {
        const auto count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            failInChild(reportFd, ChildFailure::read, errno);
        }
        if (count == 0) {
            ::_exit(0);
        }
        for (ssize_t sent = 0; sent < count;) {
            const auto n = ::write(outputFd, buffer + sent, static_cast<std::size_t>(count - sent));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                ::_exit(0); // the reader stopped: it has enough to judge
            }
            sent += n;
        }
    }
}

std::string describe(const ChildFailure& failure) {
    switch (failure.stage) {
    case ChildFailure::dropRights:
    case ChildFailure::closeInherited:
        return fmt::format("cannot take on the user's rights to read it ({})",
                           std::strerror(failure.error));
    case ChildFailure::open:
    case ChildFailure::read:
        return fmt::format("cannot read it ({})", std::strerror(failure.error));
    case ChildFailure::notRegular:
        break;
    }
    return "it is not a regular file";
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const auto n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies `source` into `destinationFd` through a child process that reads
// with `reader`'s rights, so that this process never opens a path the user
// named. At most `maxBytes` + 1 bytes arrive: enough to see a file is too
// long. No value on success; otherwise why the staged package was not read.
std::optional<std::string> copyWithRightsOf(const fs::path& source,
                                            std::optional<UserIdentity> reader, int destinationFd,
                                            std::uint64_t maxBytes) {
    int data[2];
    int report[2];
    if (::pipe2(data, O_CLOEXEC) != 0) {
        return fmt::format("cannot read it ({})", std::strerror(errno));
    }
    if (::pipe2(report, O_CLOEXEC) != 0) {
        ::close(data[0]);
        ::close(data[1]);
        return fmt::format("cannot read it ({})", std::strerror(errno));
    }
    const std::string sourceText = source.string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        streamAsReader(sourceText.c_str(), reader, data[1], report[1]);
    }
    ::close(data[1]);
    ::close(report[1]);
    FileDescriptor dataEnd(data[0]);
    FileDescriptor reportEnd(report[0]);
    if (pid < 0) {
        return fmt::format("cannot read it ({})", std::strerror(errno));
    }
    std::optional<std::string> problem;
    std::uint64_t copied = 0;
    bool reachedEnd = false;
    char buffer[65536];
    while (copied <= maxBytes) {
        const auto wanted = std::min<std::uint64_t>(sizeof buffer, maxBytes + 1 - copied);
        const auto count = ::read(dataEnd.get(), buffer, wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            reachedEnd = true;
            break;
        }
        if (!writeAll(destinationFd, buffer, static_cast<std::size_t>(count))) {
            problem = fmt::format("cannot copy it ({})", std::strerror(errno));
            break;
        }
        copied += static_cast<std::uint64_t>(count);
    }
    if (!reachedEnd) {
        ::kill(pid, SIGKILL); // still writing a file too long to matter
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildFailure failure{};
    if (::read(reportEnd.get(), &failure, sizeof failure) == sizeof failure) {
        return describe(failure);
    }
    return problem;
}

Outcome installVerifiedCopy(const UpdateInstallRequest& request, const UpdateFeed& feed,
                            const UpdateInstallEnvironment& environment) {
    const PrivateFolder folder(environment.privateParent);
    const auto copy = folder.path() / fmt::format("quellora_{}.deb", feed.version.text());
    const FileDescriptor fd(
        ::open(copy.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return {UpdateInstallerExit::unusable,
                fmt::format("cannot create {} ({})", copy.string(), std::strerror(errno))};
    }
    if (const auto problem =
            copyWithRightsOf(request.stagedPackage, environment.readAs, fd.get(), feed.size)) {
        return rejected(
            fmt::format("the staged package {}: {}", request.stagedPackage.string(), *problem));
    }
    // From here on only the copy counts: the user can no longer change it.
    if (const auto problem = verifyPackageContents(fd.get(), feed)) {
        return rejected("the staged package: " + *problem);
    }
    if (::fsync(fd.get()) != 0) {
        return {UpdateInstallerExit::unusable,
                fmt::format("cannot store {} ({})", copy.string(), std::strerror(errno))};
    }
    if (const auto problem = packageIdentityProblem(copy, feed.version)) {
        return rejected("the staged package: " + *problem);
    }
    const int status = environment.installPackage(copy);
    if (status != 0) {
        return {UpdateInstallerExit::notInstalled,
                fmt::format("the package installer failed with exit status {}", status)};
    }
    return {UpdateInstallerExit::installed,
            fmt::format("installed Quellora {}", feed.version.text())};
}

} // namespace

UpdateInstallOutcome installStagedUpdate(const UpdateInstallRequest& request,
                                         const UpdateInstallEnvironment& environment) {
    UpdateFeed feed;
    try {
        feed = decodeSignedUpdateFeed(request.feed, environment.publicKey);
    } catch (const UpdateFeedError& error) {
        return rejected(fmt::format("the feed: {}", error.what()));
    }
    if (!(feed.version > environment.installedVersion)) {
        return rejected(fmt::format("{} is not newer than the installed {}", feed.version.text(),
                                    environment.installedVersion.text()));
    }
    if (const auto problem = privateFolderProblem(environment.privateParent)) {
        return {UpdateInstallerExit::unusable, *problem};
    }
    try {
        return installVerifiedCopy(request, feed, environment);
    } catch (const std::exception& error) {
        return {UpdateInstallerExit::unusable, error.what()};
    }
}

std::optional<std::string> changeableByOthersThanRoot(const fs::path& path) {
    std::error_code error;
    const auto resolved = fs::canonical(path, error);
    if (error) {
        return fmt::format("{} cannot be found ({})", path.string(), error.message());
    }
    fs::path partial;
    for (const auto& component : resolved) {
        partial /= component;
        struct stat status {};
        if (::lstat(partial.c_str(), &status) != 0) {
            return fmt::format("{} cannot be examined ({})", partial.string(),
                               std::strerror(errno));
        }
        if (status.st_uid != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return fmt::format("{} can be changed by users other than root", partial.string());
        }
    }
    return std::nullopt;
}

} // namespace quellora
