#pragma once

#include "distribution/update_feed.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

// The root side of installing an update. quellora-install-update, installed
// root-owned in <prefix>/lib/quellora/, runs this as root through pkexec.
//
// What it may do as root: read the root-owned update.json beside it; create
// one fresh folder in a folder only root writes (/var/cache), copy the staged
// package into it with bytes read by a child process that holds only the
// asking user's rights; check that copy's size and SHA-256 against a feed
// whose release signature verifies with the installed public key, its version
// against its own, and its control data with dpkg-deb; install that copy with
// apt-get; remove the folder.
//
// What it never does: open, follow or write a path the user named with
// root's rights, install anything but the verified copy, install a version
// that is not newer than its own, remove other packages, or take a key, a
// folder or a program to run from the user or the environment.
namespace quellora {

// The helper's exit statuses (pkexec itself uses 126 and 127).
namespace UpdateInstallerExit {
inline constexpr int installed = 0;
inline constexpr int rejected = 1;     // the update is not what was signed; discard it
inline constexpr int unusable = 2;     // the helper cannot work here (usage, configuration)
inline constexpr int notInstalled = 3; // verified, but the package installer failed
} // namespace UpdateInstallerExit

struct UpdateInstallRequest {
    // In the user's cache; read only with the user's own rights.
    std::filesystem::path stagedPackage;
    // The feed the user's side fetched, as JSON; trusted only once its
    // release signature verifies.
    std::string feed;
};

struct UserIdentity {
    uid_t uid;
    gid_t gid;
};

struct UpdateInstallEnvironment {
    Ed25519PublicKey publicKey{};
    SemanticVersion installedVersion;
    // A folder that only this process's user can write; the verified copy
    // goes into a new folder inside it.
    std::filesystem::path privateParent;
    // Whose rights the staged package is read with; none: this process's.
    std::optional<UserIdentity> readAs;
    // Installs the verified copy; returns the installer's exit status.
    std::function<int(const std::filesystem::path& package)> installPackage;
};

struct UpdateInstallOutcome {
    int exitStatus = UpdateInstallerExit::rejected; // one of UpdateInstallerExit
    std::string message;                            // what happened, for the log
};

// Verifies as described above and installs only the verified copy.
UpdateInstallOutcome installStagedUpdate(const UpdateInstallRequest& request,
                                         const UpdateInstallEnvironment& environment);

// Why `path` could be changed by someone other than root: the file, after
// links are resolved, or a folder above it is not owned by root or is
// writable by group or others. No value when only root can change it.
std::optional<std::string> changeableByOthersThanRoot(const std::filesystem::path& path);

} // namespace quellora
