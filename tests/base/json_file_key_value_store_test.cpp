#include "base/json_file_key_value_store.h"
#include "base/log_sinks.h"
#include "base/manual_dispatcher.h"
#include "support/temporary_directory.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <limits>
#include <optional>
#include <regex>
#include <stdexcept>

namespace quellora {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

class JsonFileKeyValueStoreTest : public ::testing::Test {
protected:
    JsonFileKeyValueStoreTest() { Log::setSinks({sink_}); }
    ~JsonFileKeyValueStoreTest() override {
        Log::setSinks(Log::defaultSinks());
        fs::permissions(directory(), fs::perms::owner_all, ignored_);
    }

    fs::path directory() const { return root_ / "quellora"; }
    fs::path file() const { return directory() / "settings.json"; }
    std::vector<fs::path> files(std::string_view prefix) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(directory())) {
            if (entry.path().filename().string().starts_with(prefix)) {
                found.push_back(entry.path());
            }
        }
        return found;
    }
    std::vector<std::string> errors() const { return sink_->messages(); }
    bool lastIsAppStateError() const {
        const auto records = sink_->records();
        return !records.empty() && records.back().level == LogLevel::error &&
               records.back().category == "AppState";
    }

    testing::TemporaryDirectory root_;
    std::shared_ptr<MemoryLogSink> sink_ = std::make_shared<MemoryLogSink>();
    std::error_code ignored_;
};

TEST_F(JsonFileKeyValueStoreTest, EveryValueTypeSurvivesAReloadWithTypedDefaults) {
    Bytes everyByte(256);
    for (std::size_t i = 0; i < everyByte.size(); ++i) {
        everyByte[i] = static_cast<std::uint8_t>(255 - i);
    }
    const std::vector<std::pair<std::string, StoredValue>> values = {
        {"text", std::string("Größe \"q\" \\ \n")},
        {"bytes", everyByte},
        {"bytes2", Bytes{0, 0xfe}},
        {"bytes0", Bytes{}},
        {"third", 1.0 / 3.0},
        {"on", true}};
    {
        JsonFileKeyValueStore store(file());
        for (const auto& [key, value] : values) {
            store.setValue(key, value);
        }
        store.setValue("gone", 1.0);
        store.removeValue("gone");
        store.setValue("nan", std::numeric_limits<double>::quiet_NaN());
    }
    const JsonFileKeyValueStore reloaded(file());
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reloaded.value(key), value) << key;
    }
    EXPECT_FALSE(reloaded.contains("gone") || reloaded.contains("nan"));
    EXPECT_EQ(errors().size(), 1u) << "only the unsaveable NaN is reported";
    EXPECT_EQ(fs::status(directory()).permissions() & fs::perms::all, fs::perms::owner_all);
    const auto text = readText(file());
    EXPECT_TRUE(text.starts_with("{\n  \"bytes\": {\n    \"base64\": \"//79/Pv6")) << text;
    EXPECT_TRUE(text.ends_with("\"third\": 0.3333333333333333\n}\n")) << text;

    EXPECT_EQ(reloaded.doubleValue("missing"), 0.0);
    EXPECT_EQ(reloaded.doubleValue("on"), 0.0);
    EXPECT_FALSE(reloaded.boolValue("missing") || reloaded.boolValue("third"));
    EXPECT_FALSE(reloaded.string("bytes") || reloaded.data("text"));
}

class CorruptSettingsTest : public JsonFileKeyValueStoreTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(CorruptSettingsTest, IsMovedAsideLoggedAndNeverOverwritten) {
    fs::create_directory(directory());
    std::vector<fs::path> earlier;
    for (std::size_t launch = 1; launch <= 2; ++launch) {
        std::ofstream(file()) << GetParam();
        JsonFileKeyValueStore store(file());
        EXPECT_FALSE(store.contains("a"));
        store.setValue("fresh", true);
        EXPECT_TRUE(JsonFileKeyValueStore(file()).boolValue("fresh"));

        // The second launch usually falls in the same second and needs the counter.
        const auto aside = files("settings.json.corrupt-");
        ASSERT_EQ(aside.size(), launch);
        for (const auto& path : aside) {
            EXPECT_TRUE(
                std::regex_match(path.filename().string(),
                                 std::regex(R"(settings\.json\.corrupt-\d{8}-\d{6}(-\d+)?)")))
                << path;
            EXPECT_EQ(readText(path), GetParam());
        }
        ASSERT_EQ(errors().size(), launch);
        EXPECT_TRUE(lastIsAppStateError());
        EXPECT_NE(errors().back().find(file().string() + " is unreadable"), std::string::npos);
        // Directory order is arbitrary: the new file is the one the earlier launch did not leave.
        const auto added = std::ranges::find_if(aside, [&](const fs::path& path) {
            return std::ranges::find(earlier, path) == earlier.end();
        });
        ASSERT_NE(added, aside.end());
        EXPECT_NE(errors().back().find("moved it to " + added->string()), std::string::npos)
            << errors().back();
        earlier = aside;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CorruptSettingsTest,
                         ::testing::Values("{\"a\": tru", "", "[\"a\"]", "{\"a\": 1e400",
                                           "\xff\xfe{}"));

class IgnoredValueTest : public JsonFileKeyValueStoreTest,
                         public ::testing::WithParamInterface<const char*> {};

TEST_P(IgnoredValueTest, DropsOnlyItsOwnKeyAndKeepsTheFile) {
    fs::create_directory(directory());
    std::ofstream(file()) << R"({"keep": 0.5, "bad": )" << GetParam()
                          << R"(, "text": "1e400 [null]", "list": [1e400]})";
    JsonFileKeyValueStore store(file());
    EXPECT_EQ(store.doubleValue("keep"), 0.5);
    EXPECT_EQ(store.string("text"), "1e400 [null]");
    EXPECT_FALSE(store.contains("bad") || store.contains("list"));
    EXPECT_TRUE(files("settings.json.corrupt-").empty());
    ASSERT_EQ(errors().size(), 2u);
    EXPECT_NE(errors()[0].find("Ignoring the setting bad in " + file().string()), std::string::npos)
        << errors()[0];

    store.setValue("keep", 0.25);
    EXPECT_EQ(readText(file()), "{\n  \"keep\": 0.25,\n  \"text\": \"1e400 [null]\"\n}\n");
}

INSTANTIATE_TEST_SUITE_P(Values, IgnoredValueTest,
                         ::testing::Values("1e400", "-1E+400", "null", "[1]", "{\"x\": 1}",
                                           "{\"base64\": \"aGk\"}",
                                           "{\"base64\": \"aGk=\", \"x\": 1}"));

enum class InTheWay { folder, namedPipe, hugeFile, unreadableFile, linkToANamedPipe };

class UnusableSettingsPathTest : public JsonFileKeyValueStoreTest,
                                 public ::testing::WithParamInterface<InTheWay> {};

TEST_P(UnusableSettingsPathTest, IsMovedAsideAndQuelloraStartsWithDefaults) {
    fs::create_directory(directory());
    std::string reason;
    switch (GetParam()) {
    case InTheWay::folder:
        fs::create_directory(file());
        reason = "it is a folder, not a file";
        break;
    case InTheWay::namedPipe:
        ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
        reason = "it is a named pipe, not a file";
        break;
    case InTheWay::hugeFile:
        std::ofstream(file()) << "{}";
        fs::resize_file(file(), 2ull << 30); // sparse: costs no disk
        reason = "it is larger than 1 MiB";
        break;
    case InTheWay::unreadableFile:
        if (::geteuid() == 0) {
            GTEST_SKIP() << "root reads any file";
        }
        std::ofstream(file()) << R"({"a": true})";
        fs::permissions(file(), fs::perms::none);
        reason = "it is not readable (Permission denied)";
        break;
    case InTheWay::linkToANamedPipe:
        ASSERT_EQ(::mkfifo((root_ / "pipe").c_str(), 0600), 0);
        fs::create_symlink(root_ / "pipe", file());
        reason = "it is a named pipe, not a file";
        break;
    }
    JsonFileKeyValueStore store(file());
    EXPECT_FALSE(store.contains("a"));
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_NE(errors()[0].find("is unreadable (" + reason + "); moved it to"), std::string::npos)
        << errors()[0];
    EXPECT_EQ(files("settings.json.corrupt-").size(), 1u) << "kept for the user to look at";

    store.setValue("a", true);
    EXPECT_TRUE(JsonFileKeyValueStore(file()).boolValue("a"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file())));
    if (GetParam() == InTheWay::linkToANamedPipe) {
        EXPECT_TRUE(fs::is_fifo(root_ / "pipe")) << "only the link itself was moved";
    }
}

std::string nameOf(const ::testing::TestParamInfo<InTheWay>& row) {
    const char* names[] = {"Folder", "NamedPipe", "HugeFile", "UnreadableFile", "LinkToANamedPipe"};
    return names[static_cast<int>(row.param)];
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnusableSettingsPathTest,
                         ::testing::Values(InTheWay::folder, InTheWay::namedPipe,
                                           InTheWay::hugeFile, InTheWay::unreadableFile,
                                           InTheWay::linkToANamedPipe),
                         nameOf);

TEST_F(JsonFileKeyValueStoreTest, ASymlinkedFileIsWrittenThroughAndStaysALink) {
    fs::create_directories(directory());
    fs::create_directories(root_ / "dotfiles");
    std::ofstream(root_ / "dotfiles" / "quellora.json") << R"({"kept": true})";
    fs::create_symlink("../dotfiles/quellora.json", file());
    fs::create_symlink(root_ / "dotfiles" / "absent.json", directory() / "dangling.json");
    {
        JsonFileKeyValueStore store(file());
        EXPECT_TRUE(store.boolValue("kept"));
        store.setValue("added", 1.5);
        JsonFileKeyValueStore(directory() / "dangling.json").setValue("created", true);
    }
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(fs::read_symlink(file()), "../dotfiles/quellora.json");
    const JsonFileKeyValueStore target(root_ / "dotfiles" / "quellora.json");
    EXPECT_TRUE(target.boolValue("kept"));
    EXPECT_EQ(target.doubleValue("added"), 1.5);
    EXPECT_TRUE(fs::is_symlink(directory() / "dangling.json"));
    EXPECT_TRUE(JsonFileKeyValueStore(root_ / "dotfiles" / "absent.json").boolValue("created"));
    EXPECT_TRUE(errors().empty());
}

TEST_F(JsonFileKeyValueStoreTest, KillBeforeRenameLeavesThePreviousFile) {
    JsonFileKeyValueStore store(file());
    store.setValue("volume", 0.5);
    const auto before = readText(file());

    EXPECT_EXIT(
        {
            store.beforeRenameForTesting = [] {
                std::raise(SIGKILL);
            };
            store.setValue("volume", 0.75);
        },
        ::testing::KilledBySignal(SIGKILL), "");

    EXPECT_EQ(readText(file()), before);
    EXPECT_EQ(JsonFileKeyValueStore(file()).doubleValue("volume"), 0.5);
    const auto leftovers = files("settings.json.tmp-");
    ASSERT_EQ(leftovers.size(), 1u);
    EXPECT_NE(readText(leftovers[0]).find("0.75"), std::string::npos);

    // A leftover is swept only once its writer must be gone.
    std::ofstream(directory() / "settings.json.tmp-recent") << "{}";
    fs::last_write_time(leftovers[0], fs::file_time_type::clock::now() - std::chrono::minutes(11));
    const JsonFileKeyValueStore next(file());
    EXPECT_FALSE(fs::exists(leftovers[0]));
    EXPECT_TRUE(fs::exists(directory() / "settings.json.tmp-recent"));
}

TEST_F(JsonFileKeyValueStoreTest, ConcurrentWritersKeepEachOthersKeys) {
    JsonFileKeyValueStore(file()).setValue("before", true);
    std::vector<std::string> keys = {"before"};
    std::vector<pid_t> children;
    for (const char* process : {"a", "b"}) {
        for (int i = 0; i < 25; ++i) {
            keys.push_back(process + std::to_string(i));
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            JsonFileKeyValueStore store(file());
            for (int i = 0; i < 25; ++i) {
                store.setValue(process + std::to_string(i), true);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = -1;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    const JsonFileKeyValueStore reloaded(file());
    for (const auto& key : keys) {
        EXPECT_TRUE(reloaded.boolValue(key)) << key;
    }
}

class SettingsWriteFailureTest : public JsonFileKeyValueStoreTest,
                                 public ::testing::WithParamInterface<bool> {};

TEST_P(SettingsWriteFailureTest, IsLoggedAndTheValueKeptForThisRun) {
    if (!GetParam()) {
        std::ofstream(directory()) << "a file where the folder belongs";
    } else if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    } else {
        fs::create_directory(directory());
        fs::permissions(directory(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    JsonFileKeyValueStore store(file());
    store.setValue("mode", std::string("automatic"));

    EXPECT_EQ(store.string("mode"), "automatic");
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_TRUE(lastIsAppStateError());
    EXPECT_EQ(errors()[0].rfind("Could not save settings: Cannot ", 0), 0u) << errors()[0];
    EXPECT_NE(errors()[0].find("Check that " + directory().string() + " is writable"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(ReadOnlyFolderOrFileInTheWay, SettingsWriteFailureTest, ::testing::Bool());

// Writing behind, on a queue whose clock the test moves.
class WriteBehindTest : public JsonFileKeyValueStoreTest {
protected:
    WriteBehindTest() {
        store.emplace(file());
        store->writeBehind(queue, delay);
        store->beforeRenameForTesting = [this] {
            writes.push_back(queue.now());
        };
    }

    double storedOnDisk(const std::string& key) const {
        return JsonFileKeyValueStore(file()).doubleValue(key);
    }

    static constexpr auto delay = std::chrono::milliseconds(250);
    ManualDispatcher queue;
    std::optional<JsonFileKeyValueStore> store;
    std::vector<Dispatcher::TimePoint> writes;
};

TEST_F(WriteBehindTest, ADraggedSliderCostsAtMostOneWritePerDelayAndOneAfterRelease) {
    // Two seconds of dragging, a step every 16 ms, each step changing the
    // seven custom values and their flag as the model saves them.
    for (int step = 0; step < 125; ++step) {
        for (int key = 0; key < 7; ++key) {
            store->setValue("custom." + std::to_string(key), static_cast<double>(step + key));
        }
        store->setValue("custom.releaseV2", true);
        EXPECT_EQ(store->doubleValue("custom.0"), step) << "reads see the change at once";
        queue.advance(std::chrono::milliseconds(16));
    }
    EXPECT_GE(writes.size(), 7u) << "a long drag still reaches the disk as it goes";
    for (std::size_t i = 1; i < writes.size(); ++i) {
        EXPECT_GE(writes[i] - writes[i - 1], delay);
    }

    queue.advance(delay);
    const auto afterRelease = writes.size();
    for (int key = 0; key < 7; ++key) {
        EXPECT_EQ(storedOnDisk("custom." + std::to_string(key)), 124 + key);
    }
    queue.advance(std::chrono::seconds(10));
    EXPECT_EQ(writes.size(), afterRelease) << "nothing left to write";
}

TEST_F(WriteBehindTest, ChangesWaitForTheDelayAndTheDestructorWritesWhatIsPending) {
    JsonFileKeyValueStore(file()).setValue("removed", 1.0);
    store->setValue("kept", 2.0);
    store->removeValue("removed");
    queue.advance(delay - std::chrono::milliseconds(1));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(storedOnDisk("removed"), 1.0);

    store->setValue("late", 3.0);
    store.reset();
    EXPECT_EQ(writes.size(), 1u) << "all three changes in one write";
    const JsonFileKeyValueStore reloaded(file());
    EXPECT_EQ(reloaded.doubleValue("kept"), 2.0);
    EXPECT_EQ(reloaded.doubleValue("late"), 3.0);
    EXPECT_FALSE(reloaded.contains("removed"));
    queue.advance(std::chrono::seconds(1)); // the cancelled write never runs
}

TEST_F(WriteBehindTest, AFailedWriteKeepsItsChangesForTheNextOne) {
    std::ofstream(directory()) << "a file where the folder belongs";
    store->setValue("mode", std::string("automatic"));
    queue.advance(delay);
    EXPECT_TRUE(lastIsAppStateError());

    fs::remove(directory());
    store->setValue("other", true);
    queue.advance(delay);
    const JsonFileKeyValueStore reloaded(file());
    EXPECT_EQ(reloaded.string("mode"), "automatic");
    EXPECT_TRUE(reloaded.boolValue("other"));
}

} // namespace
} // namespace quellora
