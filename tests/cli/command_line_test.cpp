#include "cli/command_line.h"
#include "cli/control_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace quellora {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Matcher;

struct DispatchCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    Matcher<std::string> out;
    Matcher<std::string> err;
};

class CommandLineDispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(CommandLineDispatch, RoutesToTheRightAnswer) {
    std::ostringstream out;
    std::ostringstream err;

    EXPECT_EQ(runCommandLine(GetParam().args, {out, err, false}), GetParam().status);

    EXPECT_THAT(out.str(), GetParam().out);
    EXPECT_THAT(err.str(), GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandLineDispatch,
    ::testing::Values(
        DispatchCase{"version",
                     {"--version"},
                     0,
                     ContainsRegex("^quellora [0-9]+\\.[0-9]+\\.[0-9]+\n$"),
                     IsEmpty()},
        DispatchCase{"help", {"--help"}, 0, HasSubstr("process INPUT OUTPUT"), IsEmpty()},
        DispatchCase{
            "statusHelp", {"status", "--help"}, 0, HasSubstr("usage: quellora status"), IsEmpty()},
        DispatchCase{"toggleOperand",
                     {"toggle", "now"},
                     2,
                     IsEmpty(),
                     ContainsRegex("^quellora toggle: unexpected argument \"now\"\n$")},
        DispatchCase{"unknownCommand", {"mix"}, 2, IsEmpty(), HasSubstr("unknown command \"mix\"")},
        // Beside this test program there is no process module: one line says
        // where it was looked for.
        DispatchCase{"processModuleMissing",
                     {"process", "--help"},
                     1,
                     IsEmpty(),
                     ContainsRegex("^quellora process: cannot load quellora-process.so \\(.*"
                                   "quellora-process.so: not found.*\\)\n$")},
        DispatchCase{"runHelp", {"run", "-h"}, 0, HasSubstr("--verbose"), IsEmpty()},
        // Refused before anything starts; a run that started would not return.
        DispatchCase{"runParameterOutOfRange",
                     {"run", "--ratio=12"},
                     2,
                     IsEmpty(),
                     ContainsRegex("^quellora run: --ratio 12 is outside 1 to 8\n$")},
        DispatchCase{
            "runOperand", {"run", "now"}, 2, IsEmpty(), HasSubstr("unexpected argument \"now\"")},
        DispatchCase{"runPresetFileUnreadable",
                     {"run", "--preset-file", "/nonexistent/p.json", "--preset-name", "A"},
                     2,
                     IsEmpty(),
                     HasSubstr("cannot read preset file")}),
    [](const auto& row) { return std::string(row.param.name); });

// Any audio client names itself; on a terminal a name must not be able to
// retitle the window, clear the screen or forge a line.
TEST(ApplicationListTest, ShowsControlCharactersInNamesOnATerminal) {
    const std::vector<ListedApplication> applications{{"evil\x7F",
                                                       "Evil\x1B]0;owned\x07\xC2\x9B"
                                                       "2J\nFake",
                                                       false, "", true},
                                                      {"firefox-esr", "Firefox", true, "", true}};

    const auto shown = formatApplicationList(applications, true);

    EXPECT_THAT(shown, HasSubstr("\nEvil\\x1B]0;owned\\x07\\u009B2J\\x0AFake  evil\\x7F "));
    EXPECT_TRUE(std::none_of(shown.begin(), shown.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\n') || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
    })) << shown;
    EXPECT_THAT(formatApplicationList(applications, false), HasSubstr("\x1B]0;owned\x07"));
}

} // namespace
} // namespace quellora
