#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quellora {

using Bytes = std::vector<std::uint8_t>;
using StoredValue = std::variant<std::string, Bytes, double, bool>;

// The user's settings ("user defaults"): typed values by key, kept across
// launches. Main thread only.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;

    virtual std::optional<StoredValue> value(std::string_view key) const = 0;
    // The new value reads back at once; a store may write it out later (see
    // flush). A failure to persist is logged and the value is still kept for
    // this run.
    virtual void setValue(std::string_view key, StoredValue value) = 0;
    virtual void removeValue(std::string_view key) = 0;
    // Writes out every change not written yet; a store that writes at once
    // has none.
    virtual void flush() {}

    // Typed reads with the usual defaults: a missing value (or one of another
    // type) reads as no string, no data, 0 or false.
    std::optional<std::string> string(std::string_view key) const;
    std::optional<Bytes> data(std::string_view key) const;
    double doubleValue(std::string_view key) const;
    bool boolValue(std::string_view key) const;
    bool contains(std::string_view key) const { return value(key).has_value(); }
};

// Settings that live only as long as the object, for tests.
class InMemoryKeyValueStore final : public KeyValueStore {
public:
    std::optional<StoredValue> value(std::string_view key) const override;
    void setValue(std::string_view key, StoredValue value) override;
    void removeValue(std::string_view key) override;

private:
    std::vector<std::pair<std::string, StoredValue>> values_;
};

} // namespace quellora
