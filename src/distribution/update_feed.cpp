#include "distribution/update_feed.h"

#include "base/file_system.h"

#include <fmt/format.h>
#include <sodium.h>

#include <algorithm>
#include <cctype>
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

bool isHttpUrl(std::string_view url) {
    const bool scheme = url.starts_with("https://") || url.starts_with("http://");
    return scheme && url.find_first_of(" \t\r\n") == std::string_view::npos &&
           url.size() > url.find("//") + 2;
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

Sha256Digest sha256Of(std::string_view bytes) {
    Sha256Digest digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
    return digest;
}

} // namespace

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
    if (!isHttpUrl(feed.url)) {
        throw UpdateFeedError("\"url\" is not an http or https address");
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

    const auto signature = decodeBase64(stringField(document, "signature"), crypto_sign_BYTES);
    if (!signature) {
        throw UpdateFeedError("\"signature\" is not a base64 Ed25519 signature");
    }
    feed.signature = toArray<crypto_sign_BYTES>(*signature);
    return feed;
}

std::string encodeSignedUpdateFeed(const Ed25519SecretKey& secretKey, std::string_view package,
                                   std::string_view version, std::string_view url) {
    requireSodium();
    Ed25519Signature signature{};
    crypto_sign_detached(signature.data(), nullptr,
                         reinterpret_cast<const unsigned char*>(package.data()), package.size(),
                         secretKey.data());
    const Json feed = {
        {"version", version},
        {"url", url},
        {"size", package.size()},
        {"sha256", encodeHex(sha256Of(package))},
        {"signature",
         encodeBase64({reinterpret_cast<const char*>(signature.data()), signature.size()})},
    };
    return feed.dump(2) + "\n";
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

std::optional<std::string> verifyPackage(const std::filesystem::path& file, const UpdateFeed& feed,
                                         const Ed25519PublicKey& publicKey) {
    requireSodium();
    std::optional<std::string> bytes;
    try {
        bytes = readFileIfPresent(file, feed.size);
    } catch (const UnusableFileError& error) {
        return error.description() == "larger than " + std::to_string(feed.size) + " bytes"
                   ? fmt::format("it has more than {} bytes", feed.size)
                   : error.what();
    } catch (const std::exception& error) {
        return error.what();
    }
    if (!bytes) {
        return fmt::format("{} is missing", file.string());
    }
    if (bytes->size() != feed.size) {
        return fmt::format("it has {} bytes instead of {}", bytes->size(), feed.size);
    }
    if (sha256Of(*bytes) != feed.sha256) {
        return std::string("its SHA-256 does not match the feed");
    }
    if (crypto_sign_verify_detached(feed.signature.data(),
                                    reinterpret_cast<const unsigned char*>(bytes->data()),
                                    bytes->size(), publicKey.data()) != 0) {
        return std::string("its signature does not verify with the publisher's key");
    }
    return std::nullopt;
}

} // namespace quellora
