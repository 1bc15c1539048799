#include "distribution/update_feed.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace quellora {
namespace {

using Json = nlohmann::json;

void requireSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw std::runtime_error("libsodium could not be initialised");
    }
}

const Json& field(const Json& feed, const char* name) {
    const auto found = feed.find(name);
    if (found == feed.end()) {
        throw UpdateFeedError(fmt::format("the feed has no \"{}\"", name));
    }
    return *found;
}

std::string stringField(const Json& feed, const char* name) {
    const auto& value = field(feed, name);
    if (!value.is_string()) {
        throw UpdateFeedError(fmt::format("\"{}\" is not a string", name));
    }
    return value.get<std::string>();
}

template <std::size_t N>
std::array<unsigned char, N> toArray(const std::string& bytes) {
    std::array<unsigned char, N> array{};
    std::memcpy(array.data(), bytes.data(), N);
    return array;
}

std::optional<Sha256Digest> decodeHex(std::string_view text) {
    Sha256Digest digest{};
    if (text.size() != 2 * digest.size() ||
        !std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0; })) {
        return std::nullopt;
    }
    std::size_t length = 0;
    if (sodium_hex2bin(digest.data(), digest.size(), text.data(), text.size(), nullptr, &length,
                       nullptr) != 0 ||
        length != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

std::string encodeHex(const Sha256Digest& digest) {
    std::string hex(2 * digest.size() + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
    hex.pop_back();
    return hex;
}

std::string encodeSignature(const Ed25519Signature& signature) {
    return encodeBase64({reinterpret_cast<const char*>(signature.data()), signature.size()});
}

Ed25519Signature sign(const Ed25519SecretKey& secretKey, std::string_view message) {
    Ed25519Signature signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                         secretKey.data());
    return signature;
}

} // namespace

std::string releaseMessage(const UpdateFeed& feed) {
    return fmt::format("quellora-release-v1\nversion={}\nurl={}\nsize={}\nsha256={}\n",
                       feed.version.text(), feed.url, feed.size, encodeHex(feed.sha256));
}

bool isHttpsUrl(std::string_view url) {
    constexpr std::string_view scheme = "https://";
    if (!url.starts_with(scheme) || url.size() == scheme.size() || url[scheme.size()] == '/') {
        return false;
    }
    // Control characters and spaces would change the message that was signed
    // or what the transfer asks for.
    return std::none_of(url.begin(), url.end(),
                        [](unsigned char c) { return c <= ' ' || c == 0x7f; });
}

UpdateFeed decodeUpdateFeed(std::string_view json) {
    requireSodium();
    const auto document = Json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw UpdateFeedError("the feed is not a JSON object");
    }
    UpdateFeed feed;

    const auto versionText = stringField(document, "version");
    const auto version = SemanticVersion::parse(versionText);
    if (!version) {
        throw UpdateFeedError(fmt::format("\"{}\" is not a version number", versionText));
    }
    feed.version = *version;

    feed.url = stringField(document, "url");
    if (!isHttpsUrl(feed.url)) {
        throw UpdateFeedError("\"url\" is not an https address");
    }

    const auto& size = field(document, "size");
    if (!size.is_number_unsigned() || size.get<std::uint64_t>() == 0 ||
        size.get<std::uint64_t>() > UpdateFeed::maxPackageBytes) {
        throw UpdateFeedError(fmt::format("\"size\" must be a whole number from 1 to {}",
                                          UpdateFeed::maxPackageBytes));
    }
    feed.size = size.get<std::uint64_t>();

    const auto digest = decodeHex(stringField(document, "sha256"));
    if (!digest) {
        throw UpdateFeedError("\"sha256\" is not 64 hexadecimal digits");
    }
    feed.sha256 = *digest;

    const auto signature =
        decodeBase64(stringField(document, "releaseSignature"), crypto_sign_BYTES);
    if (!signature) {
        throw UpdateFeedError("\"releaseSignature\" is not a base64 Ed25519 signature");
    }
    feed.releaseSignature = toArray<crypto_sign_BYTES>(*signature);
    return feed;
}

UpdateFeed decodeSignedUpdateFeed(std::string_view json, const Ed25519PublicKey& publicKey) {
    auto feed = decodeUpdateFeed(json);
    const auto message = releaseMessage(feed);
    if (crypto_sign_verify_detached(feed.releaseSignature.data(),
                                    reinterpret_cast<const unsigned char*>(message.data()),
                                    message.size(), publicKey.data()) != 0) {
        throw UpdateFeedError("its release signature does not verify with the publisher's key");
    }
    return feed;
}

std::string encodeUpdateFeed(const UpdateFeed& feed) {
    requireSodium();
    const Json document = {
        {"version", feed.version.text()},
        {"url", feed.url},
        {"size", feed.size},
        {"sha256", encodeHex(feed.sha256)},
        {"releaseSignature", encodeSignature(feed.releaseSignature)},
    };
    return document.dump(2) + "\n";
}

std::string encodeSignedUpdateFeed(const Ed25519SecretKey& secretKey, std::string_view package,
                                   std::string_view version, std::string_view url) {
    requireSodium();
    const auto parsed = SemanticVersion::parse(version);
    if (!parsed) {
        throw UpdateFeedError(fmt::format("\"{}\" is not a version number", version));
    }
    if (!isHttpsUrl(url)) {
        throw UpdateFeedError(fmt::format("\"{}\" is not an https address", url));
    }
    UpdateFeed feed{*parsed, std::string(url), package.size(), {}, {}};
    crypto_hash_sha256(feed.sha256.data(), reinterpret_cast<const unsigned char*>(package.data()),
                       package.size());
    feed.releaseSignature = sign(secretKey, releaseMessage(feed));
    auto document = Json::parse(encodeUpdateFeed(feed));
    document["signature"] = encodeSignature(sign(secretKey, package));
    return document.dump(2) + "\n";
}

std::optional<std::string> decodeBase64(std::string_view text, std::size_t size) {
    requireSodium();
    std::string bytes(size, '\0');
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                          text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || length != size) {
        return std::nullopt;
    }
    return bytes;
}

std::string encodeBase64(std::string_view bytes) {
    requireSodium();
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(),
                      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.pop_back(); // the terminating NUL
    return text;
}

std::optional<Ed25519PublicKey> decodePublicKey(std::string_view base64) {
    const auto bytes = decodeBase64(base64, crypto_sign_PUBLICKEYBYTES);
    if (!bytes) {
        return std::nullopt;
    }
    return toArray<crypto_sign_PUBLICKEYBYTES>(*bytes);
}

std::optional<std::string> verifyPackageContents(int fd, const UpdateFeed& feed) {
    requireSodium();
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        return fmt::format("it cannot be read ({})", std::strerror(errno));
    }
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::uint64_t total = 0;
    unsigned char buffer[65536];
    for (;;) {
        // One byte past the announced size is enough to know it is too long.
        const auto wanted = std::min<std::uint64_t>(sizeof buffer, feed.size + 1 - total);
        const auto count = ::read(fd, buffer, wanted);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            return fmt::format("it cannot be read ({})", std::strerror(errno));
        }
        if (count == 0) {
            break;
        }
        crypto_hash_sha256_update(&state, buffer, static_cast<std::size_t>(count));
        total += static_cast<std::uint64_t>(count);
        if (total > feed.size) {
            return fmt::format("it has more than the announced {} bytes", feed.size);
        }
    }
    if (total != feed.size) {
        return fmt::format("it has {} bytes instead of {}", total, feed.size);
    }
    Sha256Digest digest{};
    crypto_hash_sha256_final(&state, digest.data());
    if (digest != feed.sha256) {
        return std::string("its SHA-256 does not match the feed");
    }
    return std::nullopt;
}

std::optional<std::string> verifyPackageFile(const std::string& path, const UpdateFeed& feed) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return fmt::format("{} cannot be opened ({})", path, std::strerror(errno));
    }
    struct stat status {};
    std::optional<std::string> problem;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = fmt::format("{} is not a regular file", path);
    } else {
        problem = verifyPackageContents(fd, feed);
    }
    ::close(fd);
    return problem;
}

} // namespace quellora
