#include "distribution/linux_relocation_platform.h"

#include "base/file_system.h"

#include <fcntl.h>
#include <fmt/chrono.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <system_error>

namespace quellora {
namespace {

namespace fs = std::filesystem;

// The Path= value of a .trashinfo file: a URL-escaped absolute path.
std::string escapeTrashPath(const std::string& path) {
    std::string escaped;
    for (const unsigned char c : path) {
        if (std::isalnum(c) != 0 ||
            std::string_view("/-_.~").find(static_cast<char>(c)) != std::string_view::npos) {
            escaped += static_cast<char>(c);
        } else {
            escaped += fmt::format("%{:02X}", c);
        }
    }
    return escaped;
}

} // namespace

LinuxRelocationPlatform::LinuxRelocationPlatform(std::shared_ptr<CommandRunner> runner,
                                                 std::function<void()> quit)
    : runner_(std::move(runner))
    , quit_(std::move(quit)) {}

fs::path LinuxRelocationPlatform::applicationPath() {
    std::error_code error;
    return fs::canonical("/proc/self/exe", error);
}

std::vector<fs::path> LinuxRelocationPlatform::applicationsDirectories(ApplicationsDomain domain) {
    std::vector<fs::path> folders{"/opt"};
    if (domain == ApplicationsDomain::all) {
        folders.insert(folders.end(), {"/usr", "/usr/local"});
        try {
            folders.push_back(homeFolder() / "Applications");
        } catch (const std::runtime_error&) {
            // No home folder, so no per-user applications.
        }
    }
    return folders;
}

fs::path LinuxRelocationPlatform::resolvingSymlinks(const fs::path& path) {
    std::error_code error;
    auto resolved = fs::weakly_canonical(path, error);
    return error ? path : resolved;
}

std::vector<fs::path> LinuxRelocationPlatform::runningApplicationPaths() {
    std::vector<fs::path> paths;
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const auto name = process.path().filename().string();
        if (name.empty() || !std::isdigit(static_cast<unsigned char>(name.front()))) {
            continue;
        }
        std::error_code unreadable; // other users' processes
        auto executable = fs::read_symlink(process.path() / "exe", unreadable);
        if (!unreadable) {
            paths.push_back(std::move(executable));
        }
    }
    return paths;
}

bool LinuxRelocationPlatform::fileExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool LinuxRelocationPlatform::isWritable(const fs::path& path) {
    return ::access(path.c_str(), W_OK) == 0;
}

fs::path LinuxRelocationPlatform::homeTrash() {
    return xdgBaseFolder("XDG_DATA_HOME", fs::path(".local") / "share") / "Trash";
}

// The info file is written first, as the trash layout asks, so that a crash
// never leaves a trashed file without its original location.
bool LinuxRelocationPlatform::moveToTrash(const fs::path& path) {
    const auto absolute = fs::absolute(path);
    fs::path trash;
    try {
        trash = homeTrash();
        createDirectories(trash / "files", 0700);
        createDirectories(trash / "info", 0700);
    } catch (const std::exception&) {
        return false;
    }
    const auto deletedAt = fmt::format(
        "{:%Y-%m-%dT%H:%M:%S}",
        fmt::localtime(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now())));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto name = absolute.filename().string() +
                          (attempt == 0 ? std::string() : "." + std::to_string(attempt));
        const auto info = trash / "info" / (name + ".trashinfo");
        const auto contents = fmt::format("[Trash Info]\nPath={}\nDeletionDate={}\n",
                                          escapeTrashPath(absolute.string()), deletedAt);
        const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        const bool written =
            ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
        ::close(fd);
        std::error_code error;
        if (written) {
            fs::rename(absolute, trash / "files" / name, error);
        }
        if (!written || error) {
            fs::remove(info, error);
            return false;
        }
        return true;
    }
    return false;
}

bool LinuxRelocationPlatform::copyItem(const fs::path& source, const fs::path& destination) {
    std::error_code error;
    fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
    return !error;
}

bool LinuxRelocationPlatform::removeItem(const fs::path& path) {
    std::error_code error;
    fs::remove_all(path, error);
    return !error;
}

// Nothing here hands a shell command line to root: what runs as root is a
// fixed program whose arguments are never parsed again. Relocation stops at
// the signing check on Linux and never asks for this.
bool LinuxRelocationPlatform::runShellCommandAsAdministrator(const std::string&) {
    return false;
}

void LinuxRelocationPlatform::runProcess(const fs::path& program,
                                         const std::vector<std::string>& arguments, bool wait) {
    std::vector<std::string> command{program.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    if (wait) {
        runner_->run(command);
    } else {
        runner_->launchDetached(command);
    }
}

void LinuxRelocationPlatform::open(const fs::path& path) {
    runner_->launchDetached({"/usr/bin/xdg-open", path.string()});
}

void LinuxRelocationPlatform::terminate() {
    if (quit_) {
        quit_();
    }
}

int LinuxRelocationPlatform::processIdentifier() {
    return static_cast<int>(::getpid());
}

void LinuxRelocationPlatform::exit(int status) {
    std::exit(status);
}

} // namespace quellora
