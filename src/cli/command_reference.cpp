#include "cli/command_reference.h"

#include "cli/output_format.h"
#include "cli/preset_options.h"
#include "cli/process_options.h"
#include "cli/text_layout.h"
#include "dsp/compressor_params.h"

#include <fmt/format.h>

namespace quellora {
namespace {

constexpr std::size_t lineWidth = 78;
constexpr std::size_t optionColumn = 24;

OptionHelp helpOption(std::string text = "print the options of this command") {
    return {{"-h", "--help"}, {}, Completion::nothing, std::move(text)};
}

constexpr const char* valueForms =
    "Options take their value as \"--opt value\" or \"--opt=value\".";

// The preset and parameter options every compressing command takes;
// `standardMeaning` says what "--preset standard" does for the command, and
// `nightMeaning` what parameter options do to "--preset night".
std::vector<OptionGroup> presetOptionGroups(const std::string& standardMeaning,
                                            const std::string& nightMeaning) {
    OptionGroup presets{
        "options",
        {
            {{"--preset"}, "standard", Completion::word, standardMeaning},
            {{"--preset"},
             "night",
             Completion::word,
             "dialogue up, action down, true peaks below -1 dBTP; " + nightMeaning},
            {{"--preset-file"},
             "FILE",
             Completion::file,
             "saved presets, as the application stores them"},
            {{"--preset-name"}, "NAME", Completion::nothing, "the one to use from FILE"},
            {{"--target"},
             "LUFS",
             Completion::nothing,
             fmt::format("even out programmes: each one to LUFS first, {} to {} (Night keeps "
                         "its own)",
                         ParamRange::programmeTarget.lowerBound,
                         ParamRange::programmeTarget.upperBound)},
        }};
    OptionGroup parameters{"parameters (override the preset)", {}};
    const auto standard = CompressorParams::defaults();
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        const auto& field = compressorParamFields[index];
        const auto& option = parameterOptionFor(index);
        parameters.options.push_back(
            {{std::string(option.name)},
             std::string(option.valueName),
             Completion::nothing,
             fmt::format("{}, {} to {} (standard {})", option.meaning, field.range.lowerBound,
                         field.range.upperBound, standard.*field.member)});
    }
    return {presets, parameters};
}

CommandHelp processHelp() {
    auto groups = presetOptionGroups("the built-in preset (default)",
                                     "parameters then set its compressor stage");
    groups.push_back(
        {"other",
         {
             {{"--block"},
              "FRAMES",
              Completion::nothing,
              fmt::format("frames per compressor call, {} to {} (default 512)",
                          blockFramesRange.lowerBound, blockFramesRange.upperBound)},
             {{"--meters"},
              "FILE.csv",
              Completion::file,
              "per call: input peak, output peak, gain reduction (dB)"},
             {{"--no-align"}, {}, Completion::nothing, "keep the lookahead delay in OUTPUT"},
             helpOption(),
         }});
    return {
        "process",
        "INPUT OUTPUT",
        Completion::file,
        "compress an audio file and report its loudness before and after",
        {
            "Compresses INPUT with Quellora's real-time compressor, writes OUTPUT in the format "
            "its extension names, and prints the integrated loudness (LUFS), loudness range (LU) "
            "and true peak (dBTP) of both.",
            "INPUT: mono, stereo or surround up to 7.1 (8 channels), anything libsndfile reads "
            "(WAV, FLAC, Ogg, AIFF, ...).",
            fmt::format("OUTPUT: {}; at the input's sample rate and channel count. It is written "
                        "beside its final place and renamed only when everything succeeded, so "
                        "a failure never leaves a partial or clobbered file.",
                        knownOutputExtensions()),
        },
        std::move(groups),
        {valueForms},
    };
}

CommandHelp runHelp() {
    auto groups = presetOptionGroups("the built-in preset",
                                     "parameters then make a custom preset, as sliders do");
    groups.push_back({"other",
                      {
                          {{"-v", "--verbose"},
                           {},
                           Completion::nothing,
                           "also print the log from level info on stderr"},
                          helpOption(),
                      }});
    return {
        "run",
        {},
        Completion::nothing,
        "level everything the computer plays, without a window",
        {"Runs Quellora without a window: what every other application plays is compressed and "
         "played on the default output until Ctrl+C or SIGTERM. Changes of state are printed as "
         "they happen."},
        std::move(groups),
        {
            "Without preset or parameter options the presets last used stay selected; "
            "parameters given here are kept as the custom preset, like the panel's sliders.",
            "QUELLORA_LOG_LEVEL overrides the log level on stderr; QUELLORA_HAL=simulated runs "
            "on a simulated audio server that plays a demo programme.",
            "To run it from login on, and again within seconds after a crash, enable the user "
            "service: systemctl --user enable --now quellora.service",
            "Only one Quellora processes per session. Started while another runs, it says which "
            "and waits, and takes over when that one stops. The tray application, when started, "
            "takes over from it; it then waits until the tray application quits. The commands "
            "toggle, on, off, status, apps, direct, level and forget reach whichever runs.",
            valueForms,
        },
    };
}

// The commands for the Quellora running in this session, the tray
// application or `quellora run`.
CommandHelp controlHelp(std::string name, std::string summary, std::string description,
                        std::string operands = {}) {
    std::string exitStatus = "Exits with status 1 when Quellora is not running";
    exitStatus += operands.empty() ? "." : ", 2 when it refuses NAME, and says why.";
    return {
        std::move(name),         std::move(operands),      Completion::nothing,
        std::move(summary),      {std::move(description)}, {{"options", {helpOption()}}},
        {std::move(exitStatus)},
    };
}

constexpr const char* applicationNames =
    "NAME is the application's name or its ID, as quellora apps lists them (any case for the "
    "name). The choice is remembered for the application's future streams; for an application "
    "that does not play now, NAME is the name it gives itself, and the choice waits until it "
    "plays.";

ProgramHelp makeReference() {
    return {
        "quellora",
        "even loudness for everything the computer plays",
        {
            "Quellora makes everything the computer plays come out at an even loudness. It runs "
            "the mixed output of all other applications through a channel-linked compressor with "
            "5 ms lookahead, a high-passed sidechain, soft knee, automatic makeup gain and a "
            "dry/wet mix, and plays the result on the default output.",
            "Without a command, Quellora starts in the system tray. Only one runs per session: "
            "starting it again opens the panel of the one already running, and a quellora run "
            "that runs steps aside for it until it quits.",
        },
        {
            helpOption("print the commands and options of this program"),
            {{"--version"}, {}, Completion::nothing, "print the version of this program"},
        },
        {
            processHelp(),
            runHelp(),
            controlHelp(
                "toggle", "switch compression of the running Quellora on or off",
                "Switches compression of the running Quellora on when it is off, and off "
                "otherwise, as Ctrl+Shift+C does. Bind it to a key where the desktop does not "
                "let applications have global keys (Wayland)."),
            controlHelp("on", "switch compression of the running Quellora on",
                        "Switches compression of the running Quellora on."),
            controlHelp("off", "switch compression of the running Quellora off",
                        "Switches compression of the running Quellora off."),
            controlHelp("status", "print what the running Quellora is doing",
                        "Prints what the running Quellora is doing: off, on, needsPermission, or "
                        "error: followed by the message its panel shows. While some audio passes "
                        "unlevelled, because it would feed Quellora its own output, on says why."),
            controlHelp("apps", "list the applications that play and how",
                        "Lists the applications with an output stream: name, ID, and whether "
                        "Quellora levels them or they play direct, straight to the output (calls "
                        "and pro-audio programs do unless told otherwise) or play on a device of "
                        "their own, which Quellora leaves alone, and whether they are paused; "
                        "then the remembered choices for applications that have no stream now."),
            controlHelp("direct", "let an application play straight to the output",
                        std::string("Lets the application play straight to the default output, "
                                    "unprocessed, as the panel's switch for it does. ") +
                            applicationNames,
                        "NAME"),
            controlHelp("level", "let Quellora level an application again",
                        std::string("Sends the application through Quellora again, also a call "
                                    "or pro-audio program that plays direct by default. ") +
                            applicationNames,
                        "NAME"),
            controlHelp("forget", "forget what was chosen for an application",
                        "Forgets whether the application was chosen to play direct or levelled: "
                        "it plays as by default again. NAME is as for direct.",
                        "NAME"),
        },
        {
            {"QUELLORA_LOG_LEVEL",
             "the lowest level of log messages printed on stderr: debug, info, default, error "
             "or fault"},
            {"QUELLORA_HAL",
             "simulated: run on a simulated audio server inside the process, which plays a "
             "demo programme, instead of PipeWire"},
            {"QUELLORA_PERMISSION",
             "with QUELLORA_HAL=simulated: undetermined, denied or authorized (the default), to "
             "see the first-run setup"},
            {"QUELLORA_BUFFER_FRAMES",
             "requested IO buffer size in frames (default: the device's)"},
            {"QUELLORA_KEEPALIVE", "1 adds a faint noise floor to the output"},
            {"QUELLORA_KEEPALIVE_AMP", "peak amplitude of that noise floor (default 0.0001)"},
            {"QUELLORA_CLICK_DEBUG", "1 measures discontinuities in the output"},
            {"QUELLORA_DEV", "1 makes this a development build: engine metering on, no updates"},
        },
        {
            {"~/.config/quellora/settings.json",
             "presets (also per output), parameters, application choices and switches "
             "($XDG_CONFIG_HOME/quellora when set); a file that "
             "cannot be read is moved aside, reported, and never overwritten"},
            {"~/.config/autostart/org.quellora.Quellora.desktop",
             "present while Quellora starts at login (the panel's Launch at Login)"},
            {"~/.cache/quellora/updates",
             "downloaded updates, offered only once their size, hash and signature match"},
            {"/usr/share/quellora/update.json",
             "where release builds look for updates; builds without a feed never look"},
            {"/usr/lib/systemd/user/quellora.service",
             "the user service that runs quellora run from login on and starts it again after a "
             "crash; it steps aside while the tray application runs"},
        },
        {
            {"0", "success"},
            {"1",
             "the work could not be done, or the running Quellora could not be reached or is not "
             "running"},
            {"2", "arguments or input that cannot be used as given, or an application name the "
                  "running Quellora does not know"},
            {"130", "interrupted (process)"},
        },
        {"systemctl(1)", "journalctl(1)", "pipewire(1)"},
    };
}

// "  spelling   text", the text in its column; a spelling too wide for the
// column gets a line of its own, so that two spaces always part the two.
void appendColumns(std::string& text, const std::string& spelling, const std::string& meaning) {
    if (spelling.size() + 4 > optionColumn) {
        text += "  " + spelling + "\n";
        text += hangingIndent(std::string(optionColumn, ' ') + meaning, optionColumn, lineWidth);
    } else {
        text += hangingIndent(fmt::format("  {:<{}}{}", spelling, optionColumn - 2, meaning),
                              optionColumn, lineWidth);
    }
}

void appendOption(std::string& text, const OptionHelp& option) {
    appendColumns(text, optionSpelling(option), option.text);
}

void appendParagraphs(std::string& text, const std::vector<std::string>& paragraphs) {
    for (const auto& paragraph : paragraphs) {
        text += "\n" + hangingIndent(paragraph, 0, lineWidth);
    }
}

} // namespace

const ProgramHelp& commandReference() {
    static const ProgramHelp reference = makeReference();
    return reference;
}

const CommandHelp* findCommandHelp(std::string_view name) {
    for (const auto& command : commandReference().commands) {
        if (command.name == name) {
            return &command;
        }
    }
    return nullptr;
}

std::string optionSpelling(const OptionHelp& option) {
    std::string spelling;
    for (const auto& name : option.names) {
        spelling += (spelling.empty() ? "" : ", ") + name;
    }
    if (!option.valueName.empty()) {
        spelling += " " + option.valueName;
    }
    return spelling;
}

std::string commandSynopsis(const CommandHelp& command) {
    std::string synopsis = commandReference().name + " " + command.name;
    if (!command.operands.empty()) {
        synopsis += " " + command.operands;
    }
    return synopsis + " [options]";
}

std::string formatProgramUsage(const ProgramHelp& program) {
    std::string text = fmt::format("usage: {} [COMMAND [options]]\n", program.name);
    appendParagraphs(text, program.description);
    text += "\ncommands:\n";
    for (const auto& command : program.commands) {
        const auto spelling =
            command.operands.empty() ? command.name : command.name + " " + command.operands;
        appendColumns(text, spelling, command.summary);
    }
    text += "\noptions:\n";
    for (const auto& option : program.options) {
        appendOption(text, option);
    }
    text += fmt::format("\nThe options of each command: {} COMMAND --help\n", program.name);
    return text;
}

std::string formatCommandUsage(const CommandHelp& command) {
    std::string text = "usage: " + commandSynopsis(command) + "\n";
    appendParagraphs(text, command.description);
    text += "\n";
    for (const auto& group : command.optionGroups) {
        text += group.heading + ":\n";
        for (const auto& option : group.options) {
            appendOption(text, option);
        }
    }
    appendParagraphs(text, command.notes);
    return text;
}

} // namespace quellora
