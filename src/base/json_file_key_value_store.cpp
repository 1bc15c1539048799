#include "base/json_file_key_value_store.h"

#include "base/file_system.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <system_error>
#include <type_traits>
#include <utility>

namespace quellora {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Older than this, a temporary file belongs to a writer that died.
constexpr auto staleTemporaryAge = std::chrono::minutes(10);
// Settings are a few kilobytes; a larger file is not ours and is never read whole.
constexpr std::size_t maxFileBytes = 1024 * 1024;
constexpr std::string_view base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encodeBase64(const Bytes& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 3; ++j) {
            group = (group << 8) | (j < count ? bytes[i + j] : 0u);
        }
        for (std::size_t j = 0; j < 4; ++j) {
            text += j <= count ? base64Alphabet[(group >> (18 - 6 * j)) & 0x3f] : '=';
        }
    }
    return text;
}

std::optional<Bytes> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        std::size_t padding = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && j >= 2 && i + 4 == text.size()) {
                ++padding;
                group <<= 6;
                continue;
            }
            const auto index = base64Alphabet.find(c);
            if (index == std::string_view::npos || padding > 0) {
                return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(index);
        }
        for (std::size_t j = 0; j < 3 - padding; ++j) {
            bytes.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * j)));
        }
    }
    return bytes;
}

// The one mapping between stored values and JSON, used for reading and writing.
json toJson(const StoredValue& value) {
    return std::visit(
        [](const auto& typed) -> json {
            if constexpr (std::is_same_v<std::decay_t<decltype(typed)>, Bytes>) {
                return json{{"base64", encodeBase64(typed)}};
            } else {
                return typed;
            }
        },
        value);
}

std::optional<StoredValue> fromJson(const json& item) {
    if (item.is_string()) {
        return item.get<std::string>();
    }
    if (item.is_number()) {
        return item.get<double>();
    }
    if (item.is_boolean()) {
        return item.get<bool>();
    }
    if (item.is_object() && item.size() == 1 && item.contains("base64") &&
        item["base64"].is_string()) {
        if (auto bytes = decodeBase64(item["base64"].get<std::string>())) {
            return std::move(*bytes);
        }
    }
    return std::nullopt;
}

// JSON has no infinities or NaN, and its strings must be UTF-8.
bool isStorable(std::string_view key, const StoredValue& value) {
    if (const double* number = std::get_if<double>(&value); number && !std::isfinite(*number)) {
        return false;
    }
    try {
        json{{key, toJson(value)}}.dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

template <typename Values>
std::string serialize(const Values& values) {
    json document = json::object();
    for (const auto& [key, value] : values) {
        if (isStorable(key, value)) {
            document[key] = toJson(value);
        }
    }
    return document.dump(2) + "\n";
}

// The JSON parser refuses a whole document over one number beyond the range
// of a double (1e400). Such a number becomes null here, which then costs only
// its own key. Strings are skipped whole, so text inside them is never touched.
std::string withOverflowingNumbersAsNull(std::string_view text) {
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    std::string result;
    result.reserve(text.size());
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString || c == '"') {
            result += c;
            if (inString && c == '\\' && i + 1 < text.size()) {
                result += text[++i];
            } else if (c == '"') {
                inString = !inString;
            }
            continue;
        }
        if (c != '-' && (c < '0' || c > '9')) {
            result += c;
            continue;
        }
        const auto end = std::min(text.find_first_not_of("0123456789+-.eE", i), text.size());
        const std::string number(text.substr(i, end - i));
        const bool overflows = std::isinf(::strtod_l(number.c_str(), nullptr, cLocale));
        result += overflows ? std::string("null") : number;
        i = end - 1;
    }
    return result;
}

std::string withoutExceptionPrefix(std::string_view what) {
    // nlohmann's texts start with "[json.exception.parse_error.101] ".
    const auto end = what.starts_with('[') ? what.find("] ") : std::string_view::npos;
    return std::string(end == std::string_view::npos ? what : what.substr(end + 2));
}

std::string temporaryPrefix(const fs::path& file) {
    return file.filename().string() + ".tmp-";
}

// Serialises read-modify-write cycles between instances. The lock file is
// never removed: removing it would let two writers lock different files.
class FileLock {
public:
    explicit FileLock(const fs::path& file) {
        const auto path = file.string() + ".lock";
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            throw std::system_error(errno, std::generic_category(), "Cannot create " + path);
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int error = errno;
                ::close(fd_);
                throw std::system_error(error, std::generic_category(), "Cannot lock " + path);
            }
        }
    }
    ~FileLock() { ::close(fd_); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_;
};

fs::path moveAside(const fs::path& file) {
    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const auto stem = file.string() + ".corrupt-" + stamp;
    for (int counter = 1;; ++counter) {
        const fs::path target = counter == 1 ? stem : stem + "-" + std::to_string(counter);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno == EEXIST) {
            continue;
        }
        // Some file systems (NFS among them) cannot refuse to replace; the lock
        // keeps our own instances from racing the check.
        if (errno == EINVAL) {
            if (fs::exists(target)) {
                continue;
            }
            if (std::rename(file.c_str(), target.c_str()) == 0) {
                return target;
            }
        }
        throw std::system_error(errno, std::generic_category(), "Cannot move " + file.string());
    }
}

} // namespace

struct JsonFileKeyValueStore::Parsed {
    std::optional<Values> values; // empty when the file is not usable settings
    std::string problem;
    // Keys whose values the store cannot hold; the rest of the file is used.
    std::vector<std::string> ignoredKeys;
};

JsonFileKeyValueStore::JsonFileKeyValueStore(fs::path file)
    : file_(std::move(file))
    , values_(load()) {}

JsonFileKeyValueStore::~JsonFileKeyValueStore() {
    flush();
}

fs::path JsonFileKeyValueStore::defaultFilePath() {
    return xdgConfigHome() / "quellora" / "settings.json";
}

std::optional<StoredValue> JsonFileKeyValueStore::value(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void JsonFileKeyValueStore::writeBehind(Dispatcher& queue, Dispatcher::Duration delay) {
    writeQueue_ = &queue;
    writeDelay_ = delay;
}

void JsonFileKeyValueStore::setValue(std::string_view key, StoredValue value) {
    const bool storable = isStorable(key, value);
    const auto [entry, inserted] = values_.insert_or_assign(std::string(key), std::move(value));
    if (storable) {
        change(key, entry->second);
        return;
    }
    log_.error("The setting %{public}s is not a finite number or not UTF-8 text, so it cannot be "
               "saved; it keeps its new value only until Quellora quits",
               key);
    // A stale value on disk would come back at the next launch; the default is closer.
    change(key, std::nullopt);
}

void JsonFileKeyValueStore::removeValue(std::string_view key) {
    if (const auto found = values_.find(key); found != values_.end()) {
        values_.erase(found);
    }
    change(key, std::nullopt);
}

void JsonFileKeyValueStore::change(std::string_view key, std::optional<StoredValue> value) {
    pending_.insert_or_assign(std::string(key), std::move(value));
    if (writeQueue_ == nullptr) {
        persist();
    } else if (!scheduledWrite_) {
        // Runs on this thread's queue, never after the destructor cancelled it.
        scheduledWrite_ = writeQueue_->postAfter(writeDelay_, [this] {
            scheduledWrite_.reset();
            persist();
        });
    }
}

void JsonFileKeyValueStore::flush() {
    if (scheduledWrite_) {
        scheduledWrite_->cancel();
        scheduledWrite_.reset();
    }
    if (!pending_.empty()) {
        persist();
    }
}

// Quellora must start whatever lies at the settings path: every failure here
// ends in default settings and a logged reason.
JsonFileKeyValueStore::Values JsonFileKeyValueStore::load() {
    removeStaleTemporaryFiles();
    try {
        auto parsed = readFile();
        if (!parsed.values) {
            // Another instance may have replaced the file since; only what is
            // still unusable under the lock is moved aside.
            const FileLock lock(file_);
            parsed = readFile();
            if (!parsed.values) {
                moveCorruptFileAside(parsed.problem);
                return {};
            }
        }
        for (const auto& key : parsed.ignoredKeys) {
            log_.error("Ignoring the setting %{public}s in %{public}s: its value is null, out of "
                       "range or of a form Quellora does not store; the other settings are kept",
                       key, file_.string());
        }
        return std::move(*parsed.values);
    } catch (const std::exception& error) {
        log_.error("%{public}s. Using default settings; changes will not be saved until the file "
                   "can be read",
                   error.what());
        return {};
    }
}

JsonFileKeyValueStore::Parsed JsonFileKeyValueStore::readFile() const {
    std::optional<std::string> text;
    try {
        text = readFileIfPresent(file_, maxFileBytes);
    } catch (const UnusableFileError& error) {
        return {std::nullopt, "it is " + error.description(), {}};
    }
    if (!text) {
        return {Values{}, {}, {}};
    }
    json document;
    try {
        document = json::parse(withOverflowingNumbersAsNull(*text));
    } catch (const json::exception& error) {
        return {std::nullopt, withoutExceptionPrefix(error.what()), {}};
    }
    if (!document.is_object()) {
        return {std::nullopt, "it does not hold a JSON object", {}};
    }
    Parsed parsed{Values{}, {}, {}};
    for (const auto& [key, item] : document.items()) {
        if (auto value = fromJson(item)) {
            parsed.values->emplace(key, std::move(*value));
        } else {
            parsed.ignoredKeys.push_back(key);
        }
    }
    return parsed;
}

void JsonFileKeyValueStore::moveCorruptFileAside(const std::string& problem) {
    const auto aside = moveAside(file_);
    syncDirectory(file_.parent_path());
    log_.error("Settings file %{public}s is unreadable (%{public}s); moved it to %{public}s and "
               "started from default settings",
               file_.string(), problem, aside.string());
}

void JsonFileKeyValueStore::removeStaleTemporaryFiles() {
    const auto prefix = temporaryPrefix(file_);
    const auto cutoff = fs::file_time_type::clock::now() - staleTemporaryAge;
    std::error_code error;
    for (fs::directory_iterator entry(file_.parent_path(), error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (entry->path().filename().string().starts_with(prefix) &&
            entry->is_regular_file(ignored) && entry->last_write_time(ignored) < cutoff &&
            !ignored) {
            fs::remove(entry->path(), ignored);
        }
    }
}

void JsonFileKeyValueStore::persist() {
    try {
        createDirectories(file_.parent_path(), 0700);
        const FileLock lock(file_);
        auto parsed = readFile();
        if (!parsed.values) {
            moveCorruptFileAside(parsed.problem);
            // Nothing on disk is usable; this run's settings are the best there are.
            parsed.values = values_;
        }
        auto& values = *parsed.values;
        for (const auto& [key, value] : pending_) {
            if (value) {
                values.insert_or_assign(key, *value);
            } else if (const auto found = values.find(key); found != values.end()) {
                values.erase(found);
            }
        }
        writeFileAtomically(file_, serialize(values),
                            {temporaryPrefix(file_), 0600, beforeRenameForTesting});
        pending_.clear();
    } catch (const std::exception& error) {
        log_.error("Could not save settings: %{public}s. Check that %{public}s is writable and the "
                   "disk is not full; until then changed settings last only until Quellora quits",
                   error.what(), file_.parent_path().string());
    }
}

} // namespace quellora
