#include "cli/manual_page.h"

#include <fmt/format.h>

#include <cctype>
#include <stdexcept>

namespace quellora {
namespace {

// The code point of the UTF-8 sequence at `text[at]`, and its length.
std::pair<char32_t, std::size_t> decodeUtf8(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > text.size()) {
        throw std::invalid_argument("help text is not UTF-8");
    }
    char32_t codePoint = lead & (0x7F >> length);
    for (std::size_t index = 1; index < length; ++index) {
        const auto next = static_cast<unsigned char>(text[at + index]);
        if ((next & 0xC0) != 0x80) {
            throw std::invalid_argument("help text is not UTF-8");
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return {codePoint, length};
}

std::string bold(std::string_view text) {
    return "\\fB" + roffText(text) + "\\fR";
}

std::string italic(std::string_view text) {
    return "\\fI" + roffText(text) + "\\fR";
}

// "\fB\-v\fR, \fB\-\-verbose\fR" or "\fB\-\-block\fR \fIFRAMES\fR".
std::string optionTag(const OptionHelp& option) {
    std::string tag;
    for (const auto& name : option.names) {
        tag += (tag.empty() ? "" : ", ") + bold(name);
    }
    if (!option.valueName.empty()) {
        tag += " " + (option.value == Completion::word ? bold(option.valueName)
                                                       : italic(option.valueName));
    }
    return tag;
}

void appendParagraphs(std::string& page, const std::vector<std::string>& paragraphs) {
    for (const auto& paragraph : paragraphs) {
        page += ".PP\n" + roffText(paragraph) + "\n";
    }
}

void appendTagged(std::string& page, const std::string& tag, std::string_view text) {
    page += ".TP\n" + tag + "\n" + roffText(text) + "\n";
}

std::string commandLine(const ProgramHelp& program, const CommandHelp& command) {
    auto line = bold(program.name + " " + command.name);
    if (!command.operands.empty()) {
        line += " " + italic(command.operands);
    }
    return line + " [" + italic("options") + "]";
}

std::string upperCase(std::string text) {
    for (auto& character : text) {
        character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    }
    return text;
}

} // namespace

std::string roffText(std::string_view text) {
    std::string escaped;
    if (!text.empty() && (text.front() == '.' || text.front() == '\'')) {
        escaped += "\\&";
    }
    for (std::size_t at = 0; at < text.size();) {
        const char character = text[at];
        if (static_cast<unsigned char>(character) >= 0x80) {
            const auto [codePoint, length] = decodeUtf8(text, at);
            escaped += fmt::format("\\[u{:04X}]", static_cast<std::uint32_t>(codePoint));
            at += length;
            continue;
        }
        if (character == '\\') {
            escaped += "\\e";
        } else if (character == '-') {
            escaped += "\\-";
        } else if (character == '\n') {
            throw std::invalid_argument("help texts are single lines");
        } else {
            escaped += character;
        }
        ++at;
    }
    return escaped;
}

std::string formatManualPage(const ProgramHelp& program, std::string_view version,
                             std::string_view date) {
    std::string page = ".\\\" Generated from the help texts of " + program.name +
                       ". Do not edit: change src/cli/command_reference.cpp.\n";
    page += fmt::format(".TH {} 1 {} \"{} {}\" \"User Commands\"\n", upperCase(program.name), date,
                        program.name, version);
    page += ".SH NAME\n" + roffText(program.name) + " \\- " + roffText(program.summary) + "\n";

    page += ".SH SYNOPSIS\n.nf\n" + bold(program.name) + " [" + italic("options") + "]\n";
    for (const auto& command : program.commands) {
        page += commandLine(program, command) + "\n";
    }
    page += ".fi\n";

    page += ".SH DESCRIPTION\n";
    appendParagraphs(page, program.description);

    page += ".SH OPTIONS\n";
    for (const auto& option : program.options) {
        appendTagged(page, optionTag(option), option.text);
    }

    page += ".SH COMMANDS\n";
    for (const auto& command : program.commands) {
        page += ".SS \"" + roffText(commandSynopsis(command)) + "\"\n";
        appendParagraphs(page, command.description);
        for (const auto& group : command.optionGroups) {
            page += ".PP\n" + roffText(group.heading) + ":\n";
            for (const auto& option : group.options) {
                appendTagged(page, optionTag(option), option.text);
            }
        }
        appendParagraphs(page, command.notes);
    }

    struct TermSection {
        const char* heading;
        const std::vector<TermHelp>& terms;
        std::string (*style)(std::string_view);
    };
    const TermSection termSections[] = {
        {"ENVIRONMENT", program.environment, bold},
        {"FILES", program.files, italic},
        {"EXIT STATUS", program.exitStatuses, bold},
    };
    for (const auto& section : termSections) {
        page += fmt::format(".SH \"{}\"\n", section.heading);
        for (const auto& term : section.terms) {
            appendTagged(page, section.style(term.term), term.text);
        }
    }

    page += ".SH \"SEE ALSO\"\n";
    for (std::size_t index = 0; index < program.seeAlso.size(); ++index) {
        // "systemctl(1)" as ".BR systemctl (1),"
        const auto& reference = program.seeAlso[index];
        const auto open = reference.find('(');
        page += ".BR " + roffText(reference.substr(0, open)) + " " +
                roffText(reference.substr(open)) +
                (index + 1 < program.seeAlso.size() ? ",\n" : "\n");
    }
    return page;
}

} // namespace quellora
