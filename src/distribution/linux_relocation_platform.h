#pragma once

#include "distribution/command_runner.h"
#include "distribution/relocation_platform.h"

#include <functional>
#include <memory>

namespace quellora {

// The relocation platform of a Linux desktop. Linux has no code-signing
// identity for applications, so relocation always stops at the signing check;
// the file operations are real all the same: the applications folders are
// /opt for this machine and ~/Applications for the user, and the trash is the
// freedesktop.org home trash. It never runs a shell command as administrator.
class LinuxRelocationPlatform final : public RelocationPlatform {
public:
    LinuxRelocationPlatform(std::shared_ptr<CommandRunner> runner, std::function<void()> quit);

    std::optional<std::string> leafCertificateCommonName() override { return std::nullopt; }
    bool satisfiesDesignatedRequirement(const Path&, const Path&) override { return false; }

    Path applicationPath() override;
    std::vector<Path> applicationsDirectories(ApplicationsDomain domain) override;
    Path resolvingSymlinks(const Path& path) override;
    std::vector<Path> runningApplicationPaths() override;

    bool fileExists(const Path& path) override;
    bool isWritable(const Path& path) override;
    bool moveToTrash(const Path& path) override;
    bool copyItem(const Path& source, const Path& destination) override;
    bool removeItem(const Path& path) override;

    bool runShellCommandAsAdministrator(const std::string& command) override;
    void runProcess(const Path& program, const std::vector<std::string>& arguments,
                    bool wait) override;
    void open(const Path& path) override;
    void terminate() override;
    int processIdentifier() override;
    void exit(int status) override;

    // $XDG_DATA_HOME/Trash, or ~/.local/share/Trash; throws std::runtime_error
    // when there is no home folder.
    static Path homeTrash();

private:
    std::shared_ptr<CommandRunner> runner_;
    std::function<void()> quit_;
};

} // namespace quellora
