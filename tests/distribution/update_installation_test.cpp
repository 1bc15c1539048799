// The root side of installing an update, run in this process on a real file
// system with a recording package installer in place of apt-get.

#include "distribution/command_runner.h"
#include "distribution/release_fixtures.h"
#include "distribution/update_installation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using testing::debianPackage;
using ::testing::HasSubstr;
using testing::readFile;
using testing::writeFile;

const std::string url = "https://quellora.org/updates/quellora_1.1.0_all.deb";

class UpdateInstallationTest : public ::testing::Test {
protected:
    UpdateInstallationTest() {
        fs::create_directories(privateParent_);
        fs::permissions(privateParent_, fs::perms::owner_all);
        fs::create_directories(cache_);
    }

    UpdateInstallOutcome install(const std::string& stagedBytes, const std::string& feed) {
        writeFile(staged_, stagedBytes);
        return installStaged(feed);
    }
    UpdateInstallOutcome installStaged(const std::string& feed) {
        const UpdateInstallEnvironment environment{
            publisher_.publicKey, *SemanticVersion::parse("1.0.0"), privateParent_, readAs_,
            [this](const fs::path& package) {
                struct stat status {};
                ::stat(package.parent_path().c_str(), &status);
                installed_.push_back({package, readFile(package), status.st_mode & 07777});
                return installerStatus_;
            }};
        return installStagedUpdate({staged_, feed}, environment);
    }

    struct Installed {
        fs::path path;
        std::string bytes;
        mode_t folderMode;
    };

    testing::Publisher publisher_;
    testing::TemporaryDirectory root_;
    fs::path privateParent_ = root_.path() / "root-only";
    fs::path cache_ = root_.path() / "cache";
    fs::path staged_ = cache_ / "quellora-1.1.0.deb";
    std::optional<UserIdentity> readAs_;
    int installerStatus_ = 0;
    std::vector<Installed> installed_;
};

TEST_F(UpdateInstallationTest, InstallsAVerifiedCopyFromAFreshFolderAndRemovesIt) {
    const auto package = debianPackage("quellora", "1.1.0");
    const auto outcome = install(package, publisher_.feed(package, "1.1.0", url));
    EXPECT_EQ(outcome.exitStatus, UpdateInstallerExit::installed) << outcome.message;
    ASSERT_EQ(installed_.size(), 1u);
    EXPECT_EQ(installed_[0].path.parent_path().parent_path(), privateParent_);
    EXPECT_EQ(installed_[0].bytes, package);
    EXPECT_EQ(installed_[0].folderMode, 0755u) << "readable by apt, writable by root alone";
    EXPECT_TRUE(fs::is_empty(privateParent_));
    EXPECT_EQ(readFile(staged_), package) << "the user's file is only read";
}

struct Refusal {
    const char* name;
    std::function<std::pair<std::string, std::string>(const testing::Publisher&)> stagedAndFeed;
    const char* message;
};
void PrintTo(const Refusal& row, std::ostream* out) {
    *out << row.name;
}

class RefusedUpdateTest : public UpdateInstallationTest,
                          public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedUpdateTest, InstallsNothingAndSaysWhy) {
    const auto [staged, feed] = GetParam().stagedAndFeed(publisher_);
    const auto outcome = install(staged, feed);
    EXPECT_EQ(outcome.exitStatus, UpdateInstallerExit::rejected);
    EXPECT_THAT(outcome.message, HasSubstr(GetParam().message));
    EXPECT_TRUE(installed_.empty());
    EXPECT_TRUE(fs::is_empty(privateParent_));
}

INSTANTIATE_TEST_SUITE_P(
    Packages, RefusedUpdateTest,
    ::testing::Values(
        Refusal{"FeedSignedByAnotherKey",
                [](const auto&) {
                    const testing::Publisher other;
                    const auto package = debianPackage("quellora", "1.1.0");
                    return std::pair{package, other.feed(package, "1.1.0", url)};
                },
                "the feed: its release signature does not verify"},
        Refusal{"NotNewerThanInstalled",
                [](const auto& publisher) {
                    const auto package = debianPackage("quellora", "1.0.0");
                    return std::pair{package, publisher.feed(package, "1.0.0", url)};
                },
                "1.0.0 is not newer than the installed 1.0.0"},
        Refusal{"ControlDataNamesAnotherPackage",
                [](const auto& publisher) {
                    const auto package = debianPackage("openssh-server", "1.1.0");
                    return std::pair{package, publisher.feed(package, "1.1.0", url)};
                },
                "it is the package \"openssh-server\", not quellora"},
        Refusal{"ControlDataNamesAnotherVersion",
                [](const auto& publisher) {
                    const auto package = debianPackage("quellora", "9.9.9");
                    return std::pair{package, publisher.feed(package, "1.1.0", url)};
                },
                "it holds version 9.9.9, not the announced 1.1.0"},
        Refusal{"NotADebianPackage",
                [](const auto& publisher) {
                    const std::string bytes = "#!/bin/sh\nid\n";
                    return std::pair{bytes, publisher.feed(bytes, "1.1.0", url)};
                },
                "dpkg-deb cannot read it as a Debian package"},
        Refusal{"LongerThanSigned",
                [](const auto& publisher) {
                    const auto package = debianPackage("quellora", "1.1.0");
                    return std::pair{package + "tail", publisher.feed(package, "1.1.0", url)};
                },
                "it has more than the announced"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(UpdateInstallationTest, AStagedPathThatIsNoFileIsRefusedWithoutWaiting) {
    const auto package = debianPackage("quellora", "1.1.0");
    const auto feed = publisher_.feed(package, "1.1.0", url);
    EXPECT_THAT(installStaged(feed).message, HasSubstr("cannot read it (No such file"));
    ASSERT_EQ(::mkfifo(staged_.c_str(), 0600), 0);
    EXPECT_THAT(installStaged(feed).message, HasSubstr("it is not a regular file"));

    // A descriptor root holds (opened without close-on-exec, as inherited
    // ones are) must not be reachable through /proc/self/fd in the reader.
    writeFile(cache_ / "held.deb", package);
    const int held = ::open((cache_ / "held.deb").c_str(), O_RDONLY);
    staged_ = "/proc/self/fd/" + std::to_string(held);
    EXPECT_THAT(installStaged(feed).message, HasSubstr("cannot read it (No such file"));
    ::close(held);
    EXPECT_TRUE(installed_.empty());
}

TEST_F(UpdateInstallationTest, AFailedPackageInstallerIsReportedAsSuch) {
    installerStatus_ = 100;
    const auto package = debianPackage("quellora", "1.1.0");
    const auto outcome = install(package, publisher_.feed(package, "1.1.0", url));
    EXPECT_EQ(outcome.exitStatus, UpdateInstallerExit::notInstalled);
    EXPECT_EQ(outcome.message, "the package installer failed with exit status 100");
    EXPECT_TRUE(fs::is_empty(privateParent_));
}

TEST_F(UpdateInstallationTest, RefusesAPrivateFolderOthersCanWrite) {
    fs::permissions(privateParent_, fs::perms::all);
    const auto package = debianPackage("quellora", "1.1.0");
    const auto outcome = install(package, publisher_.feed(package, "1.1.0", url));
    EXPECT_EQ(outcome.exitStatus, UpdateInstallerExit::unusable);
    EXPECT_THAT(outcome.message, HasSubstr("can be written by others"));
    EXPECT_TRUE(installed_.empty());
}

// As root the staged file is read with the asking user's rights only: a file
// that user may not read cannot be smuggled in through the installer.
TEST_F(UpdateInstallationTest, ReadsTheStagedFileWithTheUsersRightsOnly) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to take on another user's rights";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    readAs_ = UserIdentity{nobody->pw_uid, nobody->pw_gid};
    const auto package = debianPackage("quellora", "1.1.0");
    writeFile(staged_, package);
    fs::permissions(staged_, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(root_.path(), fs::perms::all); // the folders are no obstacle
    const auto outcome = installStaged(publisher_.feed(package, "1.1.0", url));
    EXPECT_EQ(outcome.exitStatus, UpdateInstallerExit::rejected);
    EXPECT_THAT(outcome.message, HasSubstr("cannot read it (Permission denied)"));

    fs::permissions(staged_, fs::perms::others_read, fs::perm_options::add);
    EXPECT_EQ(installStaged(publisher_.feed(package, "1.1.0", url)).exitStatus,
              UpdateInstallerExit::installed);
}

TEST(InstallUpdateProgramTest, AnEmptyPkexecUidIsNoUser) {
    const auto result = runCollectingOutput(
        {"/usr/bin/env", "PKEXEC_UID=", QUELLORA_INSTALL_UPDATE, "staged.deb", "{}"}, 4096);
    EXPECT_EQ(result.status, UpdateInstallerExit::unusable);
    EXPECT_EQ(result.output, "PKEXEC_UID is not a user id\n");
}

TEST(RootOwnershipTest, OnlyPathsNobodyButRootCanChangePass) {
    EXPECT_EQ(changeableByOthersThanRoot("/usr/bin/env"), std::nullopt);
    const testing::TemporaryDirectory scratch;
    writeFile(scratch.path() / "helper", "#!/bin/sh\n");
    const auto problem = changeableByOthersThanRoot(scratch.path() / "helper");
    ASSERT_TRUE(problem);
    EXPECT_THAT(*problem, HasSubstr("can be changed by users other than root"));
    EXPECT_THAT(*changeableByOthersThanRoot("/nonexistent/helper"), HasSubstr("cannot be found"));
}

} // namespace
} // namespace quellora
