// The help texts, the manual page and the completion all come from the
// command reference; these tests hold the reference to what the commands
// really accept, and its layout to what a terminal and roff can show.

#include "cli/command_error.h"
#include "cli/command_line.h"
#include "cli/command_reference.h"
#include "cli/control_command.h"
#include "cli/manual_page.h"
#include "cli/process_command.h"
#include "cli/process_options.h"
#include "cli/run_options.h"
#include "cli/text_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace quellora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// What `command`'s own parser says to `args`; empty when it takes them. The
// parsers are called directly, so that nothing starts or contacts a running
// Quellora.
std::string refusal(const std::string& command, const std::vector<std::string>& args) {
    try {
        if (command == "process") {
            parseProcessOptions(args);
        } else if (command == "run") {
            parseRunOptions(args);
        } else if (isControlCommand(command)) {
            // Their only option is --help, which never reaches the session bus.
            std::ostringstream out;
            std::ostringstream err;
            runControlCommand(command, args, {out, err, false});
            return err.str();
        } else {
            ADD_FAILURE() << "no parser known for \"" << command << "\": add it here";
        }
    } catch (const CommandError& error) {
        return error.what();
    }
    return {};
}

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const auto& command : commandReference().commands) {
        names.push_back(command.name);
    }
    return names;
}

class DocumentedCommand : public ::testing::TestWithParam<std::string> {
protected:
    const CommandHelp& help() const { return *findCommandHelp(GetParam()); }
};

TEST_P(DocumentedCommand, PrintsItsReferenceEntryForHelp) {
    std::ostringstream out;
    std::ostringstream err;

    // `process` lives in a module beside the executable, which a test
    // program does not have; its entry is the same code the module exports.
    const ConsoleStreams console{out, err, false};
    const int status = GetParam() == "process" ? runProcessCommand({"--help"}, console)
                                               : runCommandLine({GetParam(), "--help"}, console);
    EXPECT_EQ(status, 0) << err.str();

    EXPECT_EQ(out.str(), formatCommandUsage(help()));
    EXPECT_THAT(formatProgramUsage(commandReference()), HasSubstr("\n  " + GetParam() + " "));
}

// An option in the help that the parser does not know is a lie in the manual.
TEST_P(DocumentedCommand, AcceptsEveryOptionItsHelpNames) {
    for (const auto& group : help().optionGroups) {
        for (const auto& option : group.options) {
            for (const auto& name : option.names) {
                std::vector<std::string> args{name};
                if (!option.valueName.empty()) {
                    args.push_back(option.value == Completion::word ? option.valueName : "1");
                }
                EXPECT_THAT(refusal(GetParam(), args), Not(HasSubstr("unknown option")))
                    << GetParam() << " " << name;
            }
        }
    }
}

TEST_P(DocumentedCommand, HelpFitsATerminalLine) {
    std::istringstream text(formatCommandUsage(help()));
    for (std::string line; std::getline(text, line);) {
        EXPECT_LE(line.size(), 78u) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Reference, DocumentedCommand, ::testing::ValuesIn(commandNames()),
                         [](const auto& row) { return row.param; });

TEST(CommandReference, ProgramUsageNamesItsOwnOptions) {
    const auto usage = formatProgramUsage(commandReference());
    EXPECT_THAT(usage, StartsWith("usage: quellora [COMMAND [options]]\n"));
    EXPECT_THAT(usage, HasSubstr("\n  --version "));
    EXPECT_THAT(usage, HasSubstr("\n  -h, --help "));
}

struct LayoutCase {
    const char* name;
    std::string text;
    std::size_t indent;
    std::string laidOut;
};

void PrintTo(const LayoutCase& layout, std::ostream* out) {
    *out << layout.name;
}

class HangingIndent : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(HangingIndent, BreaksAtSpacesWithinTheWidth) {
    EXPECT_EQ(hangingIndent(GetParam().text, GetParam().indent, 20), GetParam().laidOut);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HangingIndent,
    ::testing::Values(LayoutCase{"fits", "one line", 4, "one line\n"},
                      LayoutCase{"empty", "", 4, "\n"},
                      LayoutCase{"wraps", "the quick brown fox jumps over it", 2,
                                 "the quick brown fox\n  jumps over it\n"},
                      LayoutCase{"exactlyTheWidth", "12345678901234567890", 0,
                                 "12345678901234567890\n"},
                      // The option column's padding stays; the text wraps under itself.
                      LayoutCase{"optionColumn", "  --a       one two three", 12,
                                 "  --a       one two\n            three\n"},
                      LayoutCase{"longWordAlone", "a 123456789012345678901234 b", 0,
                                 "a\n123456789012345678901234\nb\n"},
                      LayoutCase{"longFirstWord", "  --a-very-long-option-name text", 4,
                                 "  --a-very-long-option-name\n    text\n"}),
    [](const auto& row) { return std::string(row.param.name); });

struct RoffCase {
    const char* name;
    std::string text;
    std::string roff;
};

void PrintTo(const RoffCase& roff, std::ostream* out) {
    *out << roff.name;
}

class RoffText : public ::testing::TestWithParam<RoffCase> {};

TEST_P(RoffText, ReadsBackLiterally) {
    EXPECT_EQ(roffText(GetParam().text), GetParam().roff);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoffText,
                         ::testing::Values(RoffCase{"plain", "level it", "level it"},
                                           RoffCase{"options", "--block -v", "\\-\\-block \\-v"},
                                           RoffCase{"backslash", "C:\\x", "C:\\ex"},
                                           // A request or a control line otherwise.
                                           RoffCase{"leadingDot", ".config", "\\&.config"},
                                           RoffCase{"leadingApostrophe", "'quoted'", "\\&'quoted'"},
                                           RoffCase{"nonAscii",
                                                    "\xE2\x88\x92"
                                                    "50 \xC2\xB0",
                                                    "\\[u2212]50 \\[u00B0]"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(RoffTextRefuses, WhatWouldBreakThePage) {
    EXPECT_THROW(roffText("two\nlines"), std::invalid_argument);
    EXPECT_THROW(roffText("cut \xE2\x88"), std::invalid_argument);
    EXPECT_THROW(roffText("stray \x80 byte"), std::invalid_argument);
}

} // namespace
} // namespace quellora
