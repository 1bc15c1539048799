#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// A release number "MAJOR.MINOR.PATCH[-PRERELEASE][+BUILD]", ordered by
// semantic-versioning precedence: a pre-release comes before its release and
// build metadata does not count.
class SemanticVersion {
public:
    // No value for anything that is not a well-formed version (leading zeros,
    // empty identifiers, missing parts, stray characters).
    static std::optional<SemanticVersion> parse(std::string_view text);

    std::strong_ordering operator<=>(const SemanticVersion& other) const;
    bool operator==(const SemanticVersion& other) const {
        return (*this <=> other) == std::strong_ordering::equal;
    }

    // The text as parsed, build metadata included.
    const std::string& text() const { return text_; }

private:
    std::uint64_t major_ = 0;
    std::uint64_t minor_ = 0;
    std::uint64_t patch_ = 0;
    std::vector<std::string> prerelease_;
    std::string text_;
};

} // namespace quellora
