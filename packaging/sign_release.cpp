// quellora-sign-release: the publisher's side of updates.
//   quellora-sign-release keygen SECRET_KEY_FILE
//   quellora-sign-release sign SECRET_KEY_FILE PACKAGE VERSION URL
// sign prints the feed: version, https address, size and SHA-256 of the
// package, signed together, after checking that the package's own control
// data names Quellora at that version, as installed copies will check.
#include "base/file_system.h"
#include "distribution/debian_package.h"
#include "distribution/semantic_version.h"
#include "distribution/update_feed.h"

#include <sodium.h>

#include <cctype>
#include <cstring>
#include <iostream>

namespace {

using namespace quellora;

int usage() {
    std::cerr << "usage: quellora-sign-release keygen SECRET_KEY_FILE\n"
                 "       quellora-sign-release sign SECRET_KEY_FILE PACKAGE VERSION URL\n";
    return 2;
}

// Never replaces a key: losing the old one would orphan every installed copy.
int generateKey(const std::filesystem::path& secretKeyFile) {
    if (std::filesystem::exists(secretKeyFile)) {
        std::cerr << secretKeyFile.string() << " exists; refusing to replace a signing key\n";
        return 1;
    }
    Ed25519PublicKey publicKey{};
    Ed25519SecretKey secretKey{};
    crypto_sign_keypair(publicKey.data(), secretKey.data());
    writeFileAtomically(
        secretKeyFile,
        encodeBase64({reinterpret_cast<const char*>(secretKey.data()), secretKey.size()}) + "\n",
        {.temporaryPrefix = ".quellora-key-", .mode = 0600, .beforeRename = {}});
    sodium_memzero(secretKey.data(), secretKey.size());
    std::cout << encodeBase64({reinterpret_cast<const char*>(publicKey.data()), publicKey.size()})
              << '\n';
    return 0;
}

int sign(const std::filesystem::path& secretKeyFile, const std::filesystem::path& package,
         const std::string& version, const std::string& url) {
    constexpr std::size_t maxKeyFileBytes = 4096;
    auto keyText = readFileIfPresent(secretKeyFile, maxKeyFileBytes);
    auto packageBytes = readFileIfPresent(package, UpdateFeed::maxPackageBytes);
    if (!keyText || !packageBytes) {
        std::cerr << (keyText ? package : secretKeyFile).string() << " does not exist\n";
        return 1;
    }
    while (!keyText->empty() && std::isspace(static_cast<unsigned char>(keyText->back()))) {
        keyText->pop_back();
    }
    const auto secret = decodeBase64(*keyText, crypto_sign_SECRETKEYBYTES);
    if (!secret) {
        std::cerr << secretKeyFile.string() << " is not a base64 Ed25519 secret key\n";
        return 1;
    }
    const auto parsedVersion = SemanticVersion::parse(version);
    if (!parsedVersion) {
        std::cerr << version << " is not a version number (MAJOR.MINOR.PATCH)\n";
        return 1;
    }
    if (const auto problem = packageIdentityProblem(package, *parsedVersion)) {
        std::cerr << package.string() << ": " << *problem << '\n';
        return 1;
    }
    Ed25519SecretKey secretKey{};
    std::memcpy(secretKey.data(), secret->data(), secretKey.size());
    std::string feed;
    try {
        feed = encodeSignedUpdateFeed(secretKey, *packageBytes, version, url);
    } catch (const UpdateFeedError& error) {
        sodium_memzero(secretKey.data(), secretKey.size());
        std::cerr << error.what() << '\n';
        return 1;
    }
    sodium_memzero(secretKey.data(), secretKey.size());
    std::cout << feed;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) {
        std::cerr << "libsodium could not be initialised\n";
        return 1;
    }
    try {
        if (argc == 3 && std::strcmp(argv[1], "keygen") == 0) {
            return generateKey(argv[2]);
        }
        if (argc == 6 && std::strcmp(argv[1], "sign") == 0) {
            return sign(argv[2], argv[3], argv[4], argv[5]);
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return usage();
}
