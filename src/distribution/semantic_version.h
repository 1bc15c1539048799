#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// A release number "MAJOR.MINOR.PATCH[-PRERELEASE][+BUILD]". Releases reach
// users as Debian packages, so versions are ordered as dpkg orders their
// package versions: whatever this side calls newer, apt installs as an
// upgrade. A pre-release still comes before its release; build metadata
// counts, as it does for dpkg.
class SemanticVersion {
public:
    // No value for anything that is not a well-formed version (leading zeros,
    // empty identifiers, missing parts, stray characters, a hyphen inside an
    // identifier).
    static std::optional<SemanticVersion> parse(std::string_view text);

    std::weak_ordering operator<=>(const SemanticVersion& other) const;
    bool operator==(const SemanticVersion& other) const {
        return (*this <=> other) == std::weak_ordering::equivalent;
    }

    // The text as parsed, build metadata included.
    const std::string& text() const { return text_; }
    // The Version a package of this release carries: the text with "~" in
    // place of the hyphen before a pre-release, which dpkg orders before the
    // release ("1.0.0~rc.1" < "1.0.0").
    std::string packageVersion() const;

private:
    std::string text_;
};

} // namespace quellora
