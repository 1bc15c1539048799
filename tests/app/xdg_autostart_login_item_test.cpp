#include "app/xdg_autostart_login_item.h"
#include "support/temporary_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string readText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

class XdgAutostartLoginItemTest : public ::testing::Test {
protected:
    ~XdgAutostartLoginItemTest() override {
        std::error_code ignored;
        fs::permissions(autostart_, fs::perms::owner_all, ignored);
    }

    XdgAutostartLoginItem item(std::vector<std::string> command = {"/usr/bin/quellora"}) const {
        return XdgAutostartLoginItem(autostart_, std::move(command));
    }

    testing::TemporaryDirectory root_;
    fs::path autostart_ = root_ / "config" / "autostart";
    fs::path entry_ = autostart_ / "org.quellora.Quellora.desktop";
};

TEST_F(XdgAutostartLoginItemTest, RegisterWritesAnEnabledEntryAndUnregisterRemovesIt) {
    auto loginItem = item({"/usr/bin/quellora", "--login"});
    EXPECT_EQ(loginItem.status(), LoginItemStatus::notRegistered);
    EXPECT_NO_THROW(loginItem.unregisterItem());

    loginItem.registerItem();
    EXPECT_EQ(loginItem.status(), LoginItemStatus::enabled);
    EXPECT_THAT(readText(entry_), StartsWith("[Desktop Entry]\n"));
    EXPECT_THAT(readText(entry_), HasSubstr("\nExec=/usr/bin/quellora --login\n"));

    loginItem.unregisterItem();
    EXPECT_EQ(loginItem.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(fs::is_empty(autostart_)) << "neither the entry nor a temporary is left";
}

TEST_F(XdgAutostartLoginItemTest, LaunchesTheInstalledExecutableNeverADeletedOne) {
    const auto installed = root_ / "usr" / "bin" / "quellora";
    const auto built = root_ / "src" / ".build" / "quellora";
    for (const auto& executable : {installed, built}) {
        fs::create_directories(executable.parent_path());
        std::ofstream(executable) << "#!/bin/sh\n";
        fs::permissions(executable, fs::perms::owner_all);
    }
    const auto launched = XdgAutostartLoginItem::launchedExecutable;
    const auto searchPath = "bin:/nonexistent:" + installed.parent_path().string();

    EXPECT_EQ(launched(installed, ""), installed);
    EXPECT_EQ(launched(installed.string() + " (deleted)", ""), installed) << "upgraded in place";
    EXPECT_EQ(launched(built, searchPath), installed);
    EXPECT_EQ(launched(built, "/nonexistent"), built) << "nothing else is there";
    fs::remove(installed);
    EXPECT_THROW(launched(installed.string() + " (deleted)", "/nonexistent"), LoginItemError);
    EXPECT_EQ(launched(installed.string() + " (deleted)", built.parent_path().string()), built);
}

using Exec = std::pair<std::vector<std::string>, const char*>;

class ExecQuotingTest : public XdgAutostartLoginItemTest,
                        public ::testing::WithParamInterface<Exec> {};

TEST_P(ExecQuotingTest, FollowsTheDesktopEntryQuotingAndStringEscapes) {
    item(GetParam().first).registerItem();
    const auto contents = readText(entry_);
    const auto start = contents.find("\nExec=") + 6;
    EXPECT_EQ(contents.substr(start, contents.find('\n', start) - start), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ExecQuotingTest,
    ::testing::Values(Exec{{"/opt/My Apps/quellora", "--x"}, R"("/opt/My Apps/quellora" --x)"},
                      Exec{{"/opt/$HOME/q", "say \"hi\" `id`"},
                           R"("/opt/\\$HOME/q" "say \\"hi\\" \\`id\\`")"},
                      Exec{{"/opt/q", R"(a\b)", "100%", "50% 'off'", ""},
                           R"(/opt/q "a\\\\b" 100%% "50%% 'off'" "")"},
                      Exec{{"/opt/q", "a\tb\nc"}, R"(/opt/q "a\tb\nc")"},
                      Exec{{"/opt/q (copy)/q", "f(x)"}, R"x("/opt/q (copy)/q" "f(x)")x"},
                      Exec{{"/opt/q", "a)b"}, R"x(/opt/q "a)b")x"}));

class ExistingEntryTest : public XdgAutostartLoginItemTest,
                          public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(ExistingEntryTest, IsReadByItsDesktopEntryGroupAndReplacedByRegister) {
    const auto [contents, enabled] = GetParam();
    fs::create_directories(autostart_);
    std::ofstream(entry_) << contents;
    auto loginItem = item();
    EXPECT_EQ(loginItem.status(),
              enabled ? LoginItemStatus::enabled : LoginItemStatus::notRegistered);
    loginItem.registerItem();
    EXPECT_EQ(loginItem.status(), LoginItemStatus::enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ExistingEntryTest,
    ::testing::Values(std::pair("[Desktop Entry]\nExec=q\nHidden=true\n", false),
                      std::pair("[Desktop Entry]\nX-GNOME-Autostart-enabled = false\r\n", false),
                      std::pair("Exec=q\n", false),
                      std::pair("[Desktop Entry]\nhidden=true\n#Hidden=true\n", true),
                      std::pair("[Desktop Entry]\n[Desktop Action x]\nHidden=true\n", true)));

enum class Obstacle { fileInPlaceOfFolder, folderInPlaceOfEntry, readOnlyFolder };

class LoginItemFailureTest : public XdgAutostartLoginItemTest,
                             public ::testing::WithParamInterface<Obstacle> {};

TEST_P(LoginItemFailureTest, ThrowsAMessageNamingThePathAndTheFix) {
    fs::create_directories(autostart_.parent_path());
    if (GetParam() == Obstacle::fileInPlaceOfFolder) {
        std::ofstream(autostart_) << "in the way";
    } else if (GetParam() == Obstacle::folderInPlaceOfEntry) {
        fs::create_directories(entry_ / "child");
    } else if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    } else {
        fs::create_directories(autostart_);
        std::ofstream(entry_) << "[Desktop Entry]\n";
        fs::permissions(autostart_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const auto helpful = ::testing::ThrowsMessage<LoginItemError>(::testing::AllOf(
        StartsWith("Cannot "), HasSubstr(autostart_.string() + " is a folder you can write to.")));
    auto loginItem = item();
    EXPECT_THAT([&] { loginItem.registerItem(); }, helpful);
    if (GetParam() != Obstacle::fileInPlaceOfFolder) {
        EXPECT_THAT([&] { loginItem.unregisterItem(); }, helpful);
    }
}

INSTANTIATE_TEST_SUITE_P(Obstacles, LoginItemFailureTest,
                         ::testing::Values(Obstacle::fileInPlaceOfFolder,
                                           Obstacle::folderInPlaceOfEntry,
                                           Obstacle::readOnlyFolder));

} // namespace
} // namespace quellora
