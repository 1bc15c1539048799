#pragma once

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
// $XDG_CONFIG_HOME/quellora/settings.json. Every change is written at once,
// atomically, under an exclusive lock that lets several instances share the
// file without losing each other's keys. A file that cannot be read as
// settings (not JSON, not a regular file, over 1 MiB, not readable) is moved
// aside and logged, never overwritten; one key whose value the store cannot
// hold is logged and dropped alone. A symbolic link at the path is written
// through: the file it points to is replaced. Constructing never throws.
class JsonFileKeyValueStore final : public KeyValueStore {
public:
    explicit JsonFileKeyValueStore(std::filesystem::path file);

    // The store at defaultFilePath(). Throws std::runtime_error only when the
    // user has no home folder at all.
    static JsonFileKeyValueStore atDefaultLocation();
    static std::filesystem::path defaultFilePath();

    std::optional<StoredValue> value(std::string_view key) const override;
    void setValue(std::string_view key, StoredValue value) override;
    void removeValue(std::string_view key) override;

    const std::filesystem::path& filePath() const { return file_; }

    // Runs after the temporary file is written and synced, before it replaces
    // the settings file: lets a test kill the process at the worst moment.
    std::function<void()> beforeRenameForTesting;

private:
    using Values = std::map<std::string, StoredValue, std::less<>>;
    struct Parsed;

    Values load();
    Parsed readFile() const;
    void moveCorruptFileAside(const std::string& reason);
    void removeStaleTemporaryFiles();
    // Applies one change (a set, or a removal when `value` is null) to the
    // file as it is on disk now; failures are logged.
    void persist(std::string_view key, const StoredValue* value);

    std::filesystem::path file_;
    Logger log_{"AppState"};
    Values values_;
};

} // namespace quellora
