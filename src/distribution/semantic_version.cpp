#include "distribution/semantic_version.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace quellora {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

// Letters and digits only: in the package version a hyphen would start a
// Debian revision, and the order would no longer follow the text.
bool isIdentifier(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || isLetter(c); });
}

bool isNumber(std::string_view text) {
    if (!isDigits(text) || (text.size() > 1 && text.front() == '0')) {
        return false;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
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

// dpkg's weight of a character in the non-digit runs of a version: "~"
// before the end, the end before letters, letters before everything else.
int weight(std::string_view text, std::size_t at) {
    if (at >= text.size() || isDigit(text[at])) {
        return 0;
    }
    const char c = text[at];
    if (c == '~') {
        return -1;
    }
    return isLetter(c) ? c : c + 256;
}

std::size_t digitRun(std::string_view text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end - at;
}

// dpkg's comparison of two versions without epoch or revision: alternating
// runs of non-digits, compared by weight, and of digits, compared as numbers.
std::weak_ordering compareDebianVersions(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        while ((i < a.size() && !isDigit(a[i])) || (j < b.size() && !isDigit(b[j]))) {
            if (const auto order = weight(a, i) <=> weight(b, j); order != 0) {
                return order;
            }
            ++i;
            ++j;
        }
        while (i < a.size() && a[i] == '0') {
            ++i;
        }
        while (j < b.size() && b[j] == '0') {
            ++j;
        }
        const auto digitsA = digitRun(a, i);
        const auto digitsB = digitRun(b, j);
        if (digitsA != digitsB) {
            return digitsA <=> digitsB;
        }
        if (const auto order = a.substr(i, digitsA).compare(b.substr(j, digitsB)) <=> 0;
            order != 0) {
            return order;
        }
        i += digitsA;
        j += digitsB;
    }
    return std::weak_ordering::equivalent;
}

} // namespace

std::optional<SemanticVersion> SemanticVersion::parse(std::string_view text) {
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
            if (!isIdentifier(identifier) || (isDigits(identifier) && !isNumber(identifier))) {
                return std::nullopt;
            }
        }
        rest = rest.substr(0, dash);
    }
    const auto core = split(rest, '.');
    if (core.size() != 3 || !std::all_of(core.begin(), core.end(), isNumber)) {
        return std::nullopt;
    }
    SemanticVersion version;
    version.text_ = std::string(text);
    return version;
}

std::string SemanticVersion::packageVersion() const {
    auto version = text_;
    if (const auto dash = version.find('-'); dash != std::string::npos) {
        version[dash] = '~';
    }
    return version;
}

std::weak_ordering SemanticVersion::operator<=>(const SemanticVersion& other) const {
    return compareDebianVersions(packageVersion(), other.packageVersion());
}

} // namespace quellora
