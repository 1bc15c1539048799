#pragma once

#include "distribution/semantic_version.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quellora {

using Ed25519PublicKey = std::array<unsigned char, 32>;
using Ed25519SecretKey = std::array<unsigned char, 64>;
using Ed25519Signature = std::array<unsigned char, 64>;
using Sha256Digest = std::array<unsigned char, 32>;

// The publisher's announcement of the newest release:
//   {"version": "1.2.3", "url": "https://.../quellora_1.2.3_amd64.deb",
//    "size": 123456, "sha256": "<hex>", "signature": "<base64>"}
// where the signature is Ed25519 over the package's bytes.
struct UpdateFeed {
    // Larger feeds or packages are refused before they fill the disk.
    static constexpr std::size_t maxFeedBytes = 64 * 1024;
    static constexpr std::uint64_t maxPackageBytes = 512ull * 1024 * 1024;

    SemanticVersion version;
    std::string url;
    std::uint64_t size = 0;
    Sha256Digest sha256{};
    Ed25519Signature signature{};
};

// A feed that is not what it should be; what() says which field and why.
class UpdateFeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every field must be present with its type and form: a version by
// semantic-versioning rules, an http(s) URL, a size from 1 byte to
// maxPackageBytes, 64 hex digits, and a base64 signature of exactly 64 bytes.
// Fields a later release may add are ignored. Throws UpdateFeedError.
UpdateFeed decodeUpdateFeed(std::string_view json);

// The feed a publisher puts online for `package`, signed with `secretKey`.
std::string encodeSignedUpdateFeed(const Ed25519SecretKey& secretKey, std::string_view package,
                                   std::string_view version, std::string_view url);

// Standard base64 with padding; no value for anything else, or for text that
// does not decode to exactly `size` bytes.
std::optional<std::string> decodeBase64(std::string_view text, std::size_t size);
std::string encodeBase64(std::string_view bytes);

std::optional<Ed25519PublicKey> decodePublicKey(std::string_view base64);

// Checks a downloaded package against its feed: exact size, SHA-256, then the
// publisher's signature. No value when all hold; otherwise the reason.
std::optional<std::string> verifyPackage(const std::filesystem::path& file, const UpdateFeed& feed,
                                         const Ed25519PublicKey& publicKey);

} // namespace quellora
