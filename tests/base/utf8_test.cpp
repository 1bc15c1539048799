#include "base/utf8.h"

#include <gtest/gtest.h>

namespace quellora {
namespace {

struct Utf8Case {
    const char* label;
    std::string text;
    std::string valid;
};

class ValidUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8Test, KeepsWellFormedTextAndReplacesEachBadByte) {
    EXPECT_EQ(validUtf8(GetParam().text), GetParam().valid);
}

const std::string fffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Texts, ValidUtf8Test,
    ::testing::Values(
        Utf8Case{"ascii", "firefox-esr", "firefox-esr"},
        Utf8Case{"everyLength", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5",
                 "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
        Utf8Case{"latin1", "caf\xE9 player", "caf" + fffd + " player"},
        Utf8Case{"strayContinuation",
                 "a\x80"
                 "b",
                 "a" + fffd + "b"},
        Utf8Case{"cutOffAtTheEnd", "ab\xE2\x82", "ab" + fffd + fffd},
        Utf8Case{"overlong", "\xC0\xAF\xE0\x80\xAF", fffd + fffd + fffd + fffd + fffd},
        Utf8Case{"surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        Utf8Case{"beyondTheLastCodePoint", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        Utf8Case{"lastCodePoint", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        Utf8Case{"empty", "", ""}),
    [](const auto& each) { return std::string(each.param.label); });

class EscapedControlsTest : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(EscapedControlsTest, ShowsEveryControlAndStrayByteAndKeepsTheRest) {
    EXPECT_EQ(escapedControls(GetParam().text), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapedControlsTest,
    ::testing::Values(Utf8Case{"printable", "Caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0\xF0\x9F\x8E\xB5 a\\b",
                               "Caf\xC3\xA9 \xE2\x82\xAC\xC2\xA0\xF0\x9F\x8E\xB5 a\\b"},
                      Utf8Case{"c0", std::string("\x1B]0;t\x07\n\t\0", 9),
                               R"(\x1B]0;t\x07\x0A\x09\x00)"},
                      Utf8Case{"delete", "a\x7F", R"(a\x7F)"},
                      Utf8Case{"c1",
                               "\xC2\x80\xC2\x9B"
                               "2J\xC2\x9F",
                               R"(\u0080\u009B2J\u009F)"},
                      Utf8Case{"strayC1Byte",
                               "\x9B"
                               "2J",
                               R"(\x9B2J)"}),
    [](const auto& each) { return std::string(each.param.label); });

} // namespace
} // namespace quellora
