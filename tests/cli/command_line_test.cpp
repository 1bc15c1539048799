#include "cli/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

} // namespace
} // namespace quellora
