// quellora-install-update STAGED_PACKAGE FEED_JSON
//
// Installs a staged Quellora update as root; pkexec starts it for the user's
// Quellora. It trusts nothing the user hands it: the feed counts only once
// its release signature verifies with the key in the root-owned update.json
// beside this program, and only a copy read with the user's own rights into
// a fresh root-owned folder, and verified there, is installed. Prints one line
// saying what happened; the exit statuses are UpdateInstallerExit's.
#include "base/file_system.h"
#include "distribution/command_runner.h"
#include "distribution/update_configuration.h"
#include "distribution/update_installation.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace quellora;

// <prefix>/lib/quellora/quellora-install-update -> <prefix>/share/quellora/update.json
fs::path configurationBesideThisProgram() {
    const auto self = fs::canonical("/proc/self/exe");
    return self.parent_path().parent_path().parent_path() / "share" / "quellora" / "update.json";
}

Ed25519PublicKey installedPublicKey() {
    const auto location = configurationBesideThisProgram();
    if (const auto problem = changeableByOthersThanRoot(location)) {
        throw std::runtime_error("cannot trust the update configuration: " + *problem);
    }
    const auto text = readFileIfPresent(location, UpdateFeed::maxFeedBytes);
    if (!text) {
        throw std::runtime_error(location.string() + " is missing");
    }
    const auto key = decodePublicKey(UpdateConfiguration::decode(*text).publicKey);
    if (!key) {
        throw std::runtime_error(location.string() + " holds no valid public key");
    }
    return *key;
}

// The user pkexec acted for; run by hand, whoever ran it. An empty
// PKEXEC_UID is no user: taking it for whoever ran this would read the
// staged file with root's rights.
UserIdentity askingUser() {
    uid_t uid = ::getuid();
    if (const char* text = std::getenv("PKEXEC_UID")) {
        const auto* end = text + std::strlen(text);
        const auto [stop, error] = std::from_chars(text, end, uid);
        if (error != std::errc() || stop != end) {
            throw std::runtime_error("PKEXEC_UID is not a user id");
        }
    }
    const passwd* entry = ::getpwuid(uid);
    if (entry == nullptr) {
        throw std::runtime_error("user " + std::to_string(uid) + " has no password entry");
    }
    return {uid, entry->pw_gid};
}

// apt-get rather than dpkg -i: it pulls in dependencies a new release may
// add. -y refuses downgrades; --no-remove refuses to remove other packages;
// recommends stay the administrator's choice. Nothing may ask a question:
// the only one who could answer is the user, and the answer would be
// root's (a conffile prompt offers a shell), so dpkg keeps changed conffiles
// and takes new defaults for untouched ones.
int runPackageInstaller(const fs::path& package) {
    return runDetachedFromCaller(
        {"/usr/bin/apt-get", "install", "-y", "--no-remove", "--no-install-recommends", "-o",
         "Dpkg::Options::=--force-confdef", "-o", "Dpkg::Options::=--force-confold",
         package.string()},
        {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "DEBIAN_FRONTEND=noninteractive",
         "APT_LISTCHANGES_FRONTEND=none"});
}

} // namespace

int main(int argc, char** argv) {
    // Standard output carries the verdict alone; what the package tools print
    // goes to standard error with everything else.
    // Close-on-exec: the verdict is this program's alone to write.
    const int verdictFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    FILE* verdict = verdictFd >= 0 ? ::fdopen(verdictFd, "w") : nullptr;
    if (verdict == nullptr || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return UpdateInstallerExit::unusable;
    }
    const auto say = [&](const UpdateInstallOutcome& outcome) {
        std::fprintf(verdict, "%s\n", outcome.message.c_str());
        std::fflush(verdict);
        return outcome.exitStatus;
    };
    if (argc != 3) {
        return say({UpdateInstallerExit::unusable,
                    "usage: quellora-install-update STAGED_PACKAGE FEED_JSON"});
    }
    ::umask(022);
    // Ignored, it would leave no exit status to wait for.
    std::signal(SIGCHLD, SIG_DFL);
    ::setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    try {
        const auto installedVersion = SemanticVersion::parse(QUELLORA_VERSION);
        if (!installedVersion) {
            return say({UpdateInstallerExit::unusable, "this build has no version number"});
        }
        const auto user = askingUser();
        const UpdateInstallEnvironment environment{installedPublicKey(), *installedVersion,
                                                   "/var/cache", user, runPackageInstaller};
        return say(installStagedUpdate({argv[1], argv[2]}, environment));
    } catch (const std::exception& error) {
        return say({UpdateInstallerExit::unusable, error.what()});
    }
}
