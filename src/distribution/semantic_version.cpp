#include "distribution/semantic_version.h"

#include <algorithm>
#include <charconv>
#include <tuple>

namespace quellora {
namespace {

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isIdentifier(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '-';
    });
}

std::optional<std::uint64_t> numericPart(std::string_view text) {
    if (!isDigits(text) || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(at + 1);
    }
}

// Pre-release identifiers: numbers compare as numbers and sort before words.
std::strong_ordering compareIdentifier(const std::string& a, const std::string& b) {
    const bool aNumeric = isDigits(a);
    const bool bNumeric = isDigits(b);
    if (aNumeric && bNumeric) {
        if (a.size() != b.size()) {
            return a.size() <=> b.size();
        }
        return a.compare(b) <=> 0;
    }
    if (aNumeric != bNumeric) {
        return aNumeric ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return a.compare(b) <=> 0;
}

} // namespace

std::optional<SemanticVersion> SemanticVersion::parse(std::string_view text) {
    SemanticVersion version;
    version.text_ = std::string(text);

    std::string_view rest = text;
    if (const auto plus = rest.find('+'); plus != std::string_view::npos) {
        for (const auto identifier : split(rest.substr(plus + 1), '.')) {
            if (!isIdentifier(identifier)) {
                return std::nullopt;
            }
        }
        rest = rest.substr(0, plus);
    }
    if (const auto dash = rest.find('-'); dash != std::string_view::npos) {
        for (const auto identifier : split(rest.substr(dash + 1), '.')) {
            if (!isIdentifier(identifier) || (isDigits(identifier) && !numericPart(identifier))) {
                return std::nullopt;
            }
            version.prerelease_.emplace_back(identifier);
        }
        rest = rest.substr(0, dash);
    }
    const auto core = split(rest, '.');
    if (core.size() != 3) {
        return std::nullopt;
    }
    const auto major = numericPart(core[0]);
    const auto minor = numericPart(core[1]);
    const auto patch = numericPart(core[2]);
    if (!major || !minor || !patch) {
        return std::nullopt;
    }
    version.major_ = *major;
    version.minor_ = *minor;
    version.patch_ = *patch;
    return version;
}

std::strong_ordering SemanticVersion::operator<=>(const SemanticVersion& other) const {
    if (const auto order =
            std::tie(major_, minor_, patch_) <=> std::tie(other.major_, other.minor_, other.patch_);
        order != 0) {
        return order;
    }
    // A release outranks its own pre-releases.
    if (prerelease_.empty() != other.prerelease_.empty()) {
        return prerelease_.empty() ? std::strong_ordering::greater : std::strong_ordering::less;
    }
    const auto common = std::min(prerelease_.size(), other.prerelease_.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (const auto order = compareIdentifier(prerelease_[i], other.prerelease_[i]);
            order != 0) {
            return order;
        }
    }
    return prerelease_.size() <=> other.prerelease_.size();
}

} // namespace quellora
