#include "distribution/app_relocator.h"

#include "base/log.h"
#include "distribution/shell_quoting.h"

#include <fmt/format.h>

namespace quellora::AppRelocator {
namespace {

using Path = RelocationPlatform::Path;

bool isInApplicationsFolder(RelocationPlatform& platform, const Path& application) {
    const auto path = platform.resolvingSymlinks(application).string();
    for (const auto& directory : platform.applicationsDirectories(ApplicationsDomain::all)) {
        const auto folder = platform.resolvingSymlinks(directory).string();
        if (path == folder || path.starts_with(folder + "/")) {
            return true;
        }
    }
    return false;
}

bool isRunningFrom(RelocationPlatform& platform, const Path& destination) {
    const auto resolved = platform.resolvingSymlinks(destination);
    for (const auto& running : platform.runningApplicationPaths()) {
        if (platform.resolvingSymlinks(running) == resolved) {
            return true;
        }
    }
    return false;
}

// The existing copy cannot simply be replaced by us when its folder or the
// copy itself is not ours to write.
bool needsAdministrator(RelocationPlatform& platform, const Path& destination, bool exists) {
    const bool parentWritable = platform.isWritable(destination.parent_path());
    return !parentWritable || (exists && !platform.isWritable(destination));
}

} // namespace

std::string authorizedMoveCommand(const Path& source, const Path& destination) {
    const auto target = shellQuote(destination.string());
    return "/bin/rm -rf " + target + " && /bin/cp -pR " + shellQuote(source.string()) + " " +
           target;
}

std::string relaunchCommand(int pid, const Path& destination) {
    return fmt::format("(while /bin/kill -0 {} 2>/dev/null; do /bin/sleep 0.1; done; "
                       "/usr/bin/open {}; "
                       "/usr/sbin/diskutil eject \"/Volumes/Quellora\" >/dev/null 2>&1) &",
                       pid, shellQuote(destination.string()));
}

void moveToApplicationsIfNeeded(RelocationPlatform& platform, bool isDevBuild) {
    const Logger log("Relocator");
    if (isDevBuild) {
        log.debug("Relocate skipped: local dev build (DevBuild.isActive).");
        return;
    }
    const auto commonName = platform.leafCertificateCommonName();
    if (!commonName || !commonName->starts_with("Developer ID Application")) {
        log.debug("Relocate skipped: not a Developer-ID build (dev/ad-hoc).");
        return;
    }
    const auto source = platform.applicationPath();
    if (isInApplicationsFolder(platform, source)) {
        log.debug("Relocate skipped: already in an Applications folder.");
        return;
    }
    const auto folders = platform.applicationsDirectories(ApplicationsDomain::local);
    if (folders.empty()) {
        log.error("Relocate aborted: no writable Applications directory found.");
        return;
    }
    // "/", "." or ".." would make the destination the folder itself, which
    // the administrator step would then remove.
    const auto name = source.filename();
    if (name.empty() || name == "." || name == "..") {
        log.error("Relocate aborted: %{public}s names no application.", source.string());
        return;
    }
    const auto destination = folders.front() / name;
    const bool exists = platform.fileExists(destination);

    if (needsAdministrator(platform, destination, exists)) {
        if (!platform.runShellCommandAsAdministrator(authorizedMoveCommand(source, destination))) {
            log.notice("Authorized move did not complete; continuing from current location.");
            return;
        }
    } else {
        if (exists && isRunningFrom(platform, destination)) {
            platform.open(destination);
            platform.terminate();
            platform.exit(0);
            return;
        }
        if (exists && !platform.moveToTrash(destination)) {
            log.error("Could not remove existing copy at destination.");
            return;
        }
        if (!platform.copyItem(source, destination)) {
            log.error("Copy to Applications failed.");
            return;
        }
    }

    if (!platform.satisfiesDesignatedRequirement(destination, source)) {
        log.error("Destination signature does not match source — aborting relaunch.");
        return;
    }
    platform.removeItem(source);
    platform.runProcess("/usr/bin/xattr",
                        {"-d", "-r", "com.apple.quarantine", destination.string()}, true);
    platform.runProcess("/bin/sh",
                        {"-c", relaunchCommand(platform.processIdentifier(), destination)}, false);
    log.notice("Relocated to %{public}s; relaunching.", destination.string());
    platform.terminate();
    platform.exit(0);
}

} // namespace quellora::AppRelocator
