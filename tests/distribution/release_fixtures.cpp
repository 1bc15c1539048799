#include "distribution/release_fixtures.h"

#include "distribution/command_runner.h"

#include <sodium.h>

#include <fstream>
#include <map>
#include <stdexcept>

namespace quellora::testing {

namespace fs = std::filesystem;

std::string debianPackage(const std::string& name, const std::string& version) {
    static std::map<std::pair<std::string, std::string>, std::string> built;
    auto& bytes = built[{name, version}];
    if (!bytes.empty()) {
        return bytes;
    }
    const TemporaryDirectory scratch;
    const auto tree = scratch.path() / "tree";
    fs::create_directories(tree / "DEBIAN");
    fs::create_directories(tree / "usr" / "share" / "doc" / name);
    writeFile(tree / "DEBIAN" / "control", "Package: " + name + "\nVersion: " + version +
                                               "\nArchitecture: all\n"
                                               "Maintainer: Quellora <packages@quellora.org>\n"
                                               "Description: test package\n");
    writeFile(tree / "usr" / "share" / "doc" / name / "README", "built for a test\n");
    const auto archive = scratch.path() / "package.deb";
    const auto result = runCollectingOutput({"/usr/bin/dpkg-deb", "--root-owner-group", "-Znone",
                                             "--build", tree.string(), archive.string()},
                                            0);
    if (result.status != 0) {
        throw std::runtime_error("dpkg-deb --build failed");
    }
    bytes = readFile(archive);
    return bytes;
}

Publisher::Publisher() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium could not be initialised");
    }
    crypto_sign_keypair(publicKey.data(), secretKey.data());
}

void writeFile(const fs::path& file, const std::string& contents) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << contents;
}

std::string readFile(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

} // namespace quellora::testing
