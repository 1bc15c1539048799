#include "distribution/command_runner.h"
#include "distribution/release_fixtures.h"
#include "distribution/update_feed.h"

#include <gtest/gtest.h>

#include <sodium.h>

#include <nlohmann/json.hpp>

namespace quellora {
namespace {

// Whatever the updater calls newer, apt must install as an upgrade: the
// order is dpkg's own, read from dpkg, including where it parts from
// semantic-versioning precedence (build metadata, "alpha1" against "alpha.1").
TEST(SemanticVersionTest, OrdersAsDpkgOrdersThePackagesAndRejectsMalformedNumbers) {
    const char* ascending[] = {
        "0.9.10",       "1.0.0-alpha",   "1.0.0-alpha1", "1.0.0-alpha.1", "1.0.0-alpha.beta",
        "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",   "1.0.0",         "1.0.0+build.7",
        "1.0.1",        "1.10.0",        "10.0.0"};
    ProcessCommandRunner dpkg;
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
        const auto lower = *SemanticVersion::parse(ascending[i]);
        const auto higher = *SemanticVersion::parse(ascending[i + 1]);
        EXPECT_LT(lower, higher) << ascending[i] << " < " << ascending[i + 1];
        EXPECT_EQ(dpkg.run({"/usr/bin/dpkg", "--compare-versions", lower.packageVersion(), "lt",
                            higher.packageVersion()}),
                  0)
            << lower.packageVersion() << " < " << higher.packageVersion();
    }
    for (const char* text : {"1.2", "1.2.3.4", "01.2.3", "1.2.3-a..b", "1.2.3-01", "v1.2.3",
                             "1.2.3-a/b", "1.2.3-rc-1", "1.2.3+a-b", "99999999999999999999.0.0"}) {
        EXPECT_FALSE(SemanticVersion::parse(text)) << '"' << text << '"';
    }
}

TEST(UpdateFeedTest, ASignedFeedDecodesAndEveryMalformedFieldIsRefused) {
    const testing::Publisher publisher;
    const auto feed =
        nlohmann::json::parse(publisher.feed("bytes", "1.2.3", "https://quellora.org/q.deb"));
    EXPECT_EQ(decodeSignedUpdateFeed(feed.dump(), publisher.publicKey).size, 5u);
    const std::pair<const char*, nlohmann::json> malformed[] = {
        {"version", nullptr},
        {"version", "1.2"},
        {"url", "file:///etc/passwd"},
        {"url", "http://quellora.org/q.deb"},
        {"url", "https://quellora.org/q.deb\nsize=1"},
        {"url", "https:///etc/passwd"},
        {"size", -5},
        {"size", 5.5},
        {"size", UpdateFeed::maxPackageBytes + 1},
        {"sha256", std::string(64, 'g')},
        {"releaseSignature", "c2hvcnQ="},
        {"releaseSignature", std::string(88, 'A') + "!"},
    };
    for (const auto& [name, value] : malformed) {
        auto changed = feed;
        changed[name] = value;
        EXPECT_THROW(decodeUpdateFeed(changed.dump()), UpdateFeedError) << name << " = " << value;
    }
    EXPECT_THROW(decodeUpdateFeed("[]"), UpdateFeedError);
}

// The signature covers the fields together: a feed cannot relabel a package
// as a later version, point the download elsewhere or announce another size.
TEST(UpdateFeedTest, ChangingAnySignedFieldBreaksTheReleaseSignature) {
    const testing::Publisher publisher;
    const auto feed =
        nlohmann::json::parse(publisher.feed("the package", "1.2.3", "https://quellora.org/q.deb"));
    const std::pair<const char*, nlohmann::json> relabelled[] = {
        {"version", "9.9.9"},
        {"url", "https://elsewhere.example/q.deb"},
        {"size", 512ull * 1024 * 1024},
        {"sha256", std::string(64, '0')},
    };
    for (const auto& [name, value] : relabelled) {
        auto changed = feed;
        changed[name] = value;
        EXPECT_NO_THROW(decodeUpdateFeed(changed.dump())) << name;
        EXPECT_THROW(decodeSignedUpdateFeed(changed.dump(), publisher.publicKey), UpdateFeedError)
            << name;
    }
    const testing::Publisher other;
    EXPECT_THROW(decodeSignedUpdateFeed(feed.dump(), other.publicKey), UpdateFeedError);
}

// Copies of 0.1.0 check an Ed25519 signature over the package's bytes under
// "signature"; published feeds keep it so that those copies can update.
TEST(UpdateFeedTest, KeepsThePackageSignatureOlderCopiesCheck) {
    const testing::Publisher publisher;
    const std::string package = "the package";
    const auto feed =
        nlohmann::json::parse(publisher.feed(package, "1.2.3", "https://quellora.org/q.deb"));
    const auto signature = decodeBase64(feed["signature"].get<std::string>(), crypto_sign_BYTES);
    ASSERT_TRUE(signature);
    EXPECT_EQ(crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->data()),
                                          reinterpret_cast<const unsigned char*>(package.data()),
                                          package.size(), publisher.publicKey.data()),
              0);
    EXPECT_THROW(publisher.feed(package, "1.2.3", "http://quellora.org/q.deb"), UpdateFeedError);
}

} // namespace
} // namespace quellora
