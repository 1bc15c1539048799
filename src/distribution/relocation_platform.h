#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

enum class ApplicationsDomain { local, all };

// What moving the application into the system's applications folder needs
// from the platform. Main thread only; every call is synchronous.
class RelocationPlatform {
public:
    using Path = std::filesystem::path;

    virtual ~RelocationPlatform() = default;

    // Code signing of the running application: the common name of its leaf
    // certificate, if it is signed with one.
    virtual std::optional<std::string> leafCertificateCommonName() = 0;
    // Whether the code at `destination` satisfies the designated requirement
    // of the code at `source`.
    virtual bool satisfiesDesignatedRequirement(const Path& destination, const Path& source) = 0;

    // The running application's own path.
    virtual Path applicationPath() = 0;
    // Applications folders of a domain, most preferred first.
    virtual std::vector<Path> applicationsDirectories(ApplicationsDomain domain) = 0;
    virtual Path resolvingSymlinks(const Path& path) = 0;
    // Where every running application was started from.
    virtual std::vector<Path> runningApplicationPaths() = 0;

    virtual bool fileExists(const Path& path) = 0;
    virtual bool isWritable(const Path& path) = 0;
    virtual bool moveToTrash(const Path& path) = 0;
    virtual bool copyItem(const Path& source, const Path& destination) = 0;
    virtual bool removeItem(const Path& path) = 0;

    // Runs a shell command with administrator privileges after asking the
    // user; false when they cancelled or the command failed.
    virtual bool runShellCommandAsAdministrator(const std::string& command) = 0;
    // Starts `program` with `arguments`; with `wait`, returns once it ended.
    virtual void runProcess(const Path& program, const std::vector<std::string>& arguments,
                            bool wait) = 0;
    virtual void open(const Path& path) = 0;
    // Asks the application to quit.
    virtual void terminate() = 0;
    virtual int processIdentifier() = 0;
    // Ends the process; only a test double returns.
    virtual void exit(int status) = 0;
};

} // namespace quellora
