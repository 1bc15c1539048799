#pragma once

#include "distribution/semantic_version.h"

#include <array>
#include <cstdint>
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
//    "size": 123456, "sha256": "<hex>", "releaseSignature": "<base64>"}
// The release signature is Ed25519 over releaseMessage(): version, address,
// size and hash together, so that no field can be changed on its own. Feeds
// also carry "signature", Ed25519 over the package's bytes, for copies of
// 0.1.0, which know only that one; this version ignores it.
struct UpdateFeed {
    // Larger feeds or packages are refused before they fill the disk.
    static constexpr std::size_t maxFeedBytes = 64 * 1024;
    static constexpr std::uint64_t maxPackageBytes = 512ull * 1024 * 1024;

    SemanticVersion version;
    std::string url;
    std::uint64_t size = 0;
    Sha256Digest sha256{};
    Ed25519Signature releaseSignature{};
};

// A feed that is not what it should be; what() says which field and why.
class UpdateFeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the release signature covers, one field a line:
//   quellora-release-v1
//   version=1.2.3
//   url=https://...
//   size=123456
//   sha256=<64 lower-case hex digits>
std::string releaseMessage(const UpdateFeed& feed);

// Every field must be present with its type and form: a version by
// semantic-versioning rules, an https URL, a size from 1 byte to
// maxPackageBytes, 64 hex digits, and a base64 signature of exactly 64 bytes.
// Fields a later release may add are ignored. The signature is not checked
// here. Throws UpdateFeedError.
UpdateFeed decodeUpdateFeed(std::string_view json);

// decodeUpdateFeed, and then the release signature against `publicKey`:
// nothing in the result has been changed since the publisher signed it.
// Throws UpdateFeedError.
UpdateFeed decodeSignedUpdateFeed(std::string_view json, const Ed25519PublicKey& publicKey);

// The feed as JSON, release signature included, for handing on.
std::string encodeUpdateFeed(const UpdateFeed& feed);

// The feed a publisher puts online for `package`, signed with `secretKey`,
// with the package signature for copies of 0.1.0 beside the release signature.
// Throws UpdateFeedError when the result would not decode (a version or URL
// of the wrong form).
std::string encodeSignedUpdateFeed(const Ed25519SecretKey& secretKey, std::string_view package,
                                   std::string_view version, std::string_view url);

// Standard base64 with padding; no value for anything else, or for text that
// does not decode to exactly `size` bytes.
std::optional<std::string> decodeBase64(std::string_view text, std::size_t size);
std::string encodeBase64(std::string_view bytes);

std::optional<Ed25519PublicKey> decodePublicKey(std::string_view base64);

// Whether `url` is an https address a transfer may use: no other scheme, a
// host, no white space or control characters.
bool isHttpsUrl(std::string_view url);

// Checks the package open at `fd` against its feed, reading it from the
// start: exactly the announced size and the announced SHA-256. No value when
// both hold; otherwise the reason. Never reads more than size + 1 bytes.
std::optional<std::string> verifyPackageContents(int fd, const UpdateFeed& feed);

// The same for a file by path; a missing file, or anything but a regular
// file, is a reason too.
std::optional<std::string> verifyPackageFile(const std::string& path, const UpdateFeed& feed);

} // namespace quellora
