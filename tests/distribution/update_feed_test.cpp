#include "distribution/update_feed.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace quellora {
namespace {

TEST(SemanticVersionTest, OrdersByPrecedenceAndRejectsMalformedNumbers) {
    const char* ascending[] = {"0.9.10",       "1.0.0-alpha",   "1.0.0-alpha.1", "1.0.0-alpha.beta",
                               "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",    "1.0.0",
                               "1.0.1",        "1.10.0",        "10.0.0"};
    for (std::size_t i = 0; i + 1 < std::size(ascending); ++i) {
        EXPECT_LT(*SemanticVersion::parse(ascending[i]), *SemanticVersion::parse(ascending[i + 1]))
            << ascending[i] << " < " << ascending[i + 1];
    }
    EXPECT_EQ(*SemanticVersion::parse("1.2.3+build.7"), *SemanticVersion::parse("1.2.3"));
    for (const char* text : {"1.2", "1.2.3.4", "01.2.3", "1.2.3-a..b", "1.2.3-01", "v1.2.3",
                             "1.2.3-a/b", "99999999999999999999.0.0"}) {
        EXPECT_FALSE(SemanticVersion::parse(text)) << '"' << text << '"';
    }
}

TEST(UpdateFeedTest, ASignedFeedDecodesAndEveryMalformedFieldIsRefused) {
    const auto feed = nlohmann::json::parse(
        encodeSignedUpdateFeed({}, "bytes", "1.2.3", "https://quellora.org/q.deb"));
    EXPECT_EQ(decodeUpdateFeed(feed.dump()).size, 5u);
    const std::pair<const char*, nlohmann::json> malformed[] = {
        {"version", nullptr},
        {"version", "1.2"},
        {"url", "file:///etc/passwd"},
        {"size", -5},
        {"size", 5.5},
        {"size", UpdateFeed::maxPackageBytes + 1},
        {"sha256", std::string(64, 'g')},
        {"signature", "c2hvcnQ="},
        {"signature", std::string(88, 'A') + "!"},
    };
    for (const auto& [name, value] : malformed) {
        auto changed = feed;
        changed[name] = value;
        EXPECT_THROW(decodeUpdateFeed(changed.dump()), UpdateFeedError) << name << " = " << value;
    }
    EXPECT_THROW(decodeUpdateFeed("[]"), UpdateFeedError);
}

} // namespace
} // namespace quellora
