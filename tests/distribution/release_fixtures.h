#pragma once

#include "distribution/update_feed.h"
#include "support/temporary_directory.h"

#include <filesystem>
#include <string>

namespace quellora::testing {

// A real Debian archive whose control data names `name` at `version`, with
// one small file as its payload, built by dpkg-deb; its bytes.
std::string debianPackage(const std::string& name, const std::string& version);

// A publisher's key pair.
struct Publisher {
    Publisher();
    Ed25519PublicKey publicKey{};
    Ed25519SecretKey secretKey{};

    std::string feed(const std::string& package, const std::string& version,
                     const std::string& url) const {
        return encodeSignedUpdateFeed(secretKey, package, version, url);
    }
};

void writeFile(const std::filesystem::path& file, const std::string& contents);
std::string readFile(const std::filesystem::path& file);

} // namespace quellora::testing
