#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quellora {

// Everything the `quellora` command says about itself: `quellora --help`,
// each command's --help, the manual page and the shell completion are all
// printed from this one description, so that they cannot disagree. A new
// command or option is one more entry in commandReference().

// What a shell offers to complete an option's value or a command's operands.
enum class Completion {
    nothing, // numbers and names the shell cannot know
    file,    // a path
    word,    // the value is the literal word given as valueName
};

struct OptionHelp {
    std::vector<std::string> names; // every spelling: {"-v", "--verbose"}
    std::string valueName;          // "FRAMES", or the word itself; empty for a flag
    Completion value = Completion::nothing;
    std::string text; // what it does, one line
};

struct OptionGroup {
    std::string heading; // "options", "parameters (override the preset)", ...
    std::vector<OptionHelp> options;
};

struct CommandHelp {
    std::string name;
    std::string operands; // "INPUT OUTPUT"; empty when it takes none
    Completion operandCompletion = Completion::nothing;
    std::string summary;                  // its line in `quellora --help`
    std::vector<std::string> description; // paragraphs before the options
    std::vector<OptionGroup> optionGroups;
    std::vector<std::string> notes; // paragraphs after the options
};

// A name and what it means: environment variables, files, exit statuses.
struct TermHelp {
    std::string term;
    std::string text;
};

struct ProgramHelp {
    std::string name;                     // "quellora"
    std::string summary;                  // the manual page's one-line description
    std::vector<std::string> description; // what the program does without a command
    std::vector<OptionHelp> options;      // options of the program itself
    std::vector<CommandHelp> commands;
    std::vector<TermHelp> environment;
    std::vector<TermHelp> files;
    std::vector<TermHelp> exitStatuses;
    std::vector<std::string> seeAlso; // "systemctl(1)"
};

const ProgramHelp& commandReference();

// Nothing for a command the program does not have.
const CommandHelp* findCommandHelp(std::string_view name);

// What `quellora --help` prints.
std::string formatProgramUsage(const ProgramHelp& program);
// What `quellora COMMAND --help` prints.
std::string formatCommandUsage(const CommandHelp& command);
// The way the option is written in help texts: "-v, --verbose", "--block FRAMES".
std::string optionSpelling(const OptionHelp& option);
// "quellora process INPUT OUTPUT [options]".
std::string commandSynopsis(const CommandHelp& command);

} // namespace quellora
