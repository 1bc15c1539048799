#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// A 128-bit universally unique identifier.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes)
        : bytes_(bytes) {}

    static Uuid random();
    // Accepts the canonical 36-character form (8-4-4-4-12 hex digits) in
    // either case; anything else yields no value.
    static std::optional<Uuid> parse(std::string_view text);

    // Canonical text in upper case, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string uppercaseString() const;

    const Bytes& bytes() const { return bytes_; }
    friend bool operator==(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

} // namespace quellora
