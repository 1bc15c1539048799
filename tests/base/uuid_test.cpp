#include "base/uuid.h"

#include <gtest/gtest.h>

namespace quellora {
namespace {

TEST(UuidTest, CanonicalUpperCaseTextRoundTrips) {
    const auto id = Uuid::random();
    const auto text = id.uppercaseString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[8], '-');
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(Uuid::parse(text), id);
    EXPECT_NE(Uuid::random(), id);
}

TEST(UuidTest, ParsesEitherCaseAndRejectsAnythingElse) {
    EXPECT_EQ(Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"),
              Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
    for (const char* bad :
         {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
          "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"}) {
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
    }
}

} // namespace
} // namespace quellora
