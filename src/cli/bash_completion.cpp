#include "cli/bash_completion.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

namespace quellora {
namespace {

// Names go into the script between single quotes and as case patterns.
const std::string& shellWord(const std::string& word) {
    const bool safe = !word.empty() && std::all_of(word.begin(), word.end(), [](char character) {
        return std::isalnum(static_cast<unsigned char>(character)) || character == '-' ||
               character == '_' || character == '.';
    });
    if (!safe) {
        throw std::invalid_argument("not a plain shell word: \"" + word + "\"");
    }
    return word;
}

std::string joined(const std::vector<std::string>& words, std::string_view separator) {
    std::string text;
    for (const auto& word : words) {
        text += (text.empty() ? "" : std::string(separator)) + shellWord(word);
    }
    return text;
}

void addUnique(std::vector<std::string>& words, const std::string& word) {
    if (std::find(words.begin(), words.end(), word) == words.end()) {
        words.push_back(word);
    }
}

// The arms of `case $prev in` for the options of `command` that take a value.
std::string valueArms(const CommandHelp& command) {
    std::map<std::string, std::vector<std::string>> words; // option → the words it takes
    std::vector<std::string> files;
    std::vector<std::string> others;
    for (const auto& group : command.optionGroups) {
        for (const auto& option : group.options) {
            if (option.valueName.empty()) {
                continue;
            }
            for (const auto& name : option.names) {
                switch (option.value) {
                case Completion::word:
                    addUnique(words[name], option.valueName);
                    break;
                case Completion::file:
                    addUnique(files, name);
                    break;
                case Completion::nothing:
                    addUnique(others, name);
                    break;
                }
            }
        }
    }
    std::string arms;
    for (const auto& [name, values] : words) {
        arms += fmt::format("        {})\n            COMPREPLY=($(compgen -W '{}' -- \"$cur\"))\n"
                            "            return\n            ;;\n",
                            shellWord(name), joined(values, " "));
    }
    if (!files.empty()) {
        arms +=
            fmt::format("        {})\n            _filedir\n            return\n            ;;\n",
                        joined(files, " | "));
    }
    if (!others.empty()) {
        arms +=
            fmt::format("        {})\n            return\n            ;;\n", joined(others, " | "));
    }
    return arms;
}

std::vector<std::string> optionNames(const CommandHelp& command) {
    std::vector<std::string> names;
    for (const auto& group : command.optionGroups) {
        for (const auto& option : group.options) {
            for (const auto& name : option.names) {
                addUnique(names, name);
            }
        }
    }
    return names;
}

} // namespace

std::string formatBashCompletion(const ProgramHelp& program) {
    const auto function = "_" + shellWord(program.name);
    std::vector<std::string> firstWords;
    for (const auto& command : program.commands) {
        firstWords.push_back(command.name);
    }
    for (const auto& option : program.options) {
        firstWords.insert(firstWords.end(), option.names.begin(), option.names.end());
    }

    std::string script = fmt::format("# bash completion for {0}; generated from its help texts.\n"
                                     "\n"
                                     "{1}() {{\n"
                                     "    local cur prev words cword split\n"
                                     "    _init_completion -s || return\n"
                                     "\n"
                                     "    if ((cword == 1)); then\n"
                                     "        COMPREPLY=($(compgen -W '{2}' -- \"$cur\"))\n"
                                     "        return\n"
                                     "    fi\n"
                                     "\n"
                                     "    local options operands=no\n"
                                     "    case ${{words[1]}} in\n",
                                     program.name, function, joined(firstWords, " "));
    for (const auto& command : program.commands) {
        script += fmt::format("    {})\n", shellWord(command.name));
        if (const auto arms = valueArms(command); !arms.empty()) {
            script += "        case $prev in\n" + arms + "        esac\n";
        }
        script += fmt::format("        options='{}'\n", joined(optionNames(command), " "));
        if (command.operandCompletion == Completion::file) {
            script += "        operands=files\n";
        }
        script += "        ;;\n";
    }
    script += fmt::format("    *)\n"
                          "        return\n"
                          "        ;;\n"
                          "    esac\n"
                          "\n"
                          "    # --flag=... for a flag: nothing to offer.\n"
                          "    $split && return\n"
                          "    if [[ $cur == -* || $operands == no ]]; then\n"
                          "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
                          "    else\n"
                          "        _filedir\n"
                          "    fi\n"
                          "}} &&\n"
                          "    complete -F {0} {1}\n",
                          function, program.name);
    return script;
}

} // namespace quellora
