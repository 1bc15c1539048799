#pragma once

#include "base/dispatcher.h"
#include "base/key_value_store.h"
#include "base/log.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// The user's settings in one human-readable JSON object, normally
// $XDG_CONFIG_HOME/quellora/settings.json. Changes are written atomically,
// under an exclusive lock that lets several instances share the file without
// losing each other's keys: only the keys this instance changed are written
// over what is on disk. A file that cannot be read as settings (not JSON, not
// a regular file, over 1 MiB, not readable) is moved aside and logged, never
// overwritten; one key whose value the store cannot hold is logged and dropped
// alone. A symbolic link at the path is written through: the file it points to
// is replaced. Constructing never throws.
//
// By default every change is written at once. Writing behind keeps changes
// in memory and writes all of them in one go a short while after the first,
// so a slider dragged across its range costs a few writes, not hundreds; the
// destructor writes what is still pending.
class JsonFileKeyValueStore final : public KeyValueStore {
public:
    explicit JsonFileKeyValueStore(std::filesystem::path file);
    ~JsonFileKeyValueStore() override;
    JsonFileKeyValueStore(const JsonFileKeyValueStore&) = delete;
    JsonFileKeyValueStore& operator=(const JsonFileKeyValueStore&) = delete;

    // $XDG_CONFIG_HOME/quellora/settings.json. Throws std::runtime_error only
    // when the user has no home folder at all.
    static std::filesystem::path defaultFilePath();

    // From now on a change is written `delay` after the first change since
    // the last write, together with every change made in between: at most
    // one write per `delay`. `queue` must be the thread's own and outlive
    // the store.
    void writeBehind(Dispatcher& queue, Dispatcher::Duration delay);

    std::optional<StoredValue> value(std::string_view key) const override;
    void setValue(std::string_view key, StoredValue value) override;
    void removeValue(std::string_view key) override;
    void flush() override;

    // Runs after the temporary file is written and synced, before it replaces
    // the settings file: lets a test kill the process at the worst moment,
    // or count the writes.
    std::function<void()> beforeRenameForTesting;

private:
    using Values = std::map<std::string, StoredValue, std::less<>>;
    // A change not written yet: the new value, or none for a removal.
    using Changes = std::map<std::string, std::optional<StoredValue>, std::less<>>;
    struct Parsed;

    Values load();
    Parsed readFile() const;
    void moveCorruptFileAside(const std::string& reason);
    void removeStaleTemporaryFiles();
    void change(std::string_view key, std::optional<StoredValue> value);
    // Applies the pending changes to the file as it is on disk now. On a
    // failure they are logged and stay pending for the next write.
    void persist();

    std::filesystem::path file_;
    Logger log_{"AppState"};
    Values values_;
    Changes pending_;
    Dispatcher* writeQueue_ = nullptr;
    Dispatcher::Duration writeDelay_{};
    std::shared_ptr<WorkItem> scheduledWrite_;
};

} // namespace quellora
