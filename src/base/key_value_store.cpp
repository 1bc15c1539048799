#include "base/key_value_store.h"

#include <algorithm>
#include <utility>

namespace quellora {
namespace {

template <typename T>
std::optional<T> valueAs(const KeyValueStore& store, std::string_view key) {
    const auto stored = store.value(key);
    if (const T* typed = stored ? std::get_if<T>(&*stored) : nullptr) {
        return *typed;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> KeyValueStore::string(std::string_view key) const {
    return valueAs<std::string>(*this, key);
}

std::optional<Bytes> KeyValueStore::data(std::string_view key) const {
    return valueAs<Bytes>(*this, key);
}

double KeyValueStore::doubleValue(std::string_view key) const {
    return valueAs<double>(*this, key).value_or(0.0);
}

bool KeyValueStore::boolValue(std::string_view key) const {
    return valueAs<bool>(*this, key).value_or(false);
}

std::optional<StoredValue> InMemoryKeyValueStore::value(std::string_view key) const {
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&](const auto& entry) { return entry.first == key; });
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void InMemoryKeyValueStore::setValue(std::string_view key, StoredValue value) {
    const auto found = std::find_if(values_.begin(), values_.end(),
                                    [&](const auto& entry) { return entry.first == key; });
    if (found == values_.end()) {
        values_.emplace_back(std::string(key), std::move(value));
    } else {
        found->second = std::move(value);
    }
}

void InMemoryKeyValueStore::removeValue(std::string_view key) {
    std::erase_if(values_, [&](const auto& entry) { return entry.first == key; });
}

} // namespace quellora
