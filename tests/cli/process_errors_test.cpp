#include "cli_test_files.h"
#include "support/test_signals.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>

namespace quellora::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ErrorCase {
    const char* name;
    std::vector<std::string> args; // "@name" stands for a file in the test directory
    const char* message;
};

constexpr const char* savedPresets = R"([
  {"id": "0F8E2A44-6B1C-4D3A-9E57-2C4B6D8F1A30", "name": "Speech",
   "params": {"threshold": -35, "ratio": 3, "attackMs": 5, "releaseMs": 400,
              "kneeWidth": 12, "mix": 1, "scHpfFreq": 150}},
  {"id": "5A1C3E77-0B2D-4F68-8A91-7E3D5C2B4F10", "name": "Night",
   "params": {"threshold": -40, "ratio": 6, "attackMs": 3, "releaseMs": 900,
              "kneeWidth": 6, "mix": 1, "scHpfFreq": 200}}
])";

class ProcessErrors : public ::testing::TestWithParam<ErrorCase> {
protected:
    void SetUp() override {
        writeAudioFile(dir / "in.wav", stereoNoise(4800, 0.25f), 2, 48000,
                       SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        writeAudioFile(dir / "nine.wav", std::vector<float>(9 * 4800, 0.1f), 9, 48000,
                       SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        writeTextFile(dir / "notaudio.wav", "these are not samples\n");
        writeTextFile(dir / "out.wav", "earlier output");
        writeTextFile(dir / "presets.json", savedPresets);
        std::string broken = savedPresets;
        broken.erase(broken.rfind("\"mix\": 1, "), 10); // the second record lacks its mix
        writeTextFile(dir / "broken.json", broken);
        std::filesystem::create_directory(dir / "sub");
        std::filesystem::create_directory(dir / "folder.wav");
        std::filesystem::create_symlink(dir / "in.wav", dir / "link.wav");
        ::mkfifo((dir / "pipe.json").c_str(), 0600);
    }

    std::vector<std::string> resolvedArgs() const {
        auto args = GetParam().args;
        for (auto& arg : args) {
            if (arg.starts_with('@')) {
                arg = (dir / arg.substr(1)).string();
            } else if (const auto at = arg.find("=@"); at != std::string::npos) {
                arg = arg.substr(0, at + 1) + (dir / arg.substr(at + 2)).string();
            }
        }
        return args;
    }

    TemporaryDirectory dir;
};

TEST_P(ProcessErrors, ExitTwoWithOneLineAndTouchNothing) {
    const auto files = dir.snapshot();

    const auto run = runProcess(resolvedArgs());

    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, StartsWith("quellora process: "));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr(GetParam().message));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.snapshot(), files);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, ProcessErrors,
    ::testing::Values(
        ErrorCase{"noArguments", {}, "missing INPUT and OUTPUT"},
        ErrorCase{"noOutput", {"@in.wav"}, "missing OUTPUT"},
        ErrorCase{"extraArgument", {"@in.wav", "@out.wav", "@other.wav"}, "unexpected argument"},
        ErrorCase{"unknownOption", {"@in.wav", "@out.wav", "--loud"}, "unknown option \"--loud\""},
        ErrorCase{"missingValue", {"@in.wav", "@out.wav", "--ratio"}, "--ratio needs a value"},
        ErrorCase{"flagWithValue", {"@in.wav", "@out.wav", "--no-align=1"}, "takes no value"},
        ErrorCase{"ratioOutOfRange",
                  {"@in.wav", "@out.wav", "--ratio", "12"},
                  "--ratio 12 is outside 1 to 8"},
        ErrorCase{"thresholdOutOfRange",
                  {"@in.wav", "@out.wav", "--threshold=-60"},
                  "--threshold -60 is outside -50 to 0"},
        ErrorCase{"targetOutOfRange",
                  {"@in.wav", "@out.wav", "--target", "-30"},
                  "--target -30 is outside -24 to -14"},
        ErrorCase{"trailingGarbage", {"@in.wav", "@out.wav", "--attack", "12x"}, "not a number"},
        ErrorCase{
            "blockZero", {"@in.wav", "@out.wav", "--block", "0"}, "--block 0 is outside 1 to 8192"},
        ErrorCase{"blockTooLarge",
                  {"@in.wav", "@out.wav", "--block=9000"},
                  "--block 9000 is outside 1 to 8192"},
        ErrorCase{"blockFraction", {"@in.wav", "@out.wav", "--block", "1.5"}, "not a whole number"},
        ErrorCase{"unknownBuiltInPreset",
                  {"@in.wav", "@out.wav", "--preset", "loud"},
                  "unknown preset \"loud\""},
        ErrorCase{"nineChannels", {"@nine.wav", "@out.wav"}, "9 channels; at most 8 (7.1)"},
        ErrorCase{"notAudio", {"@notaudio.wav", "@out.wav"}, "cannot read"},
        ErrorCase{"missingInput", {"@absent.wav", "@out.wav"}, "cannot read"},
        ErrorCase{"unknownExtension", {"@in.wav", "@out.mp4"}, "known extension"},
        ErrorCase{"outputIsInput", {"@in.wav", "@in.wav"}, "same file as INPUT"},
        ErrorCase{
            "outputIsInputByAnotherPath", {"@in.wav", "@sub/../in.wav"}, "same file as INPUT"},
        ErrorCase{"outputLinksToInput", {"@in.wav", "@link.wav"}, "same file as INPUT"},
        ErrorCase{
            "metersOverInput", {"@in.wav", "@out.wav", "--meters=@in.wav"}, "same file as INPUT"},
        ErrorCase{"metersOverOutput",
                  {"@in.wav", "@out.wav", "--meters", "@out.wav"},
                  "same file as OUTPUT"},
        ErrorCase{"outputIsADirectory", {"@in.wav", "@folder.wav"}, "is a directory"},
        ErrorCase{
            "unknownPresetName",
            {"@in.wav", "@out.wav", "--preset-file", "@presets.json", "--preset-name", "Loud"},
            "no preset named \"Loud\"; "},
        ErrorCase{"presetNameWithControls",
                  {"@in.wav", "@out.wav", "--preset-file", "@presets.json", "--preset-name",
                   "\x1B]0;owned\x07"},
                  "no preset named \"\\x1B]0;owned\\x07\""},
        ErrorCase{"presetNameMissing",
                  {"@in.wav", "@out.wav", "--preset-file", "@presets.json"},
                  "holds \"Speech\", \"Night\""},
        ErrorCase{"presetNameWithoutFile",
                  {"@in.wav", "@out.wav", "--preset-name", "Night"},
                  "--preset-name needs --preset-file"},
        ErrorCase{
            "brokenPresetRecord",
            {"@in.wav", "@out.wav", "--preset-file", "@broken.json", "--preset-name", "Speech"},
            "saved preset 2 lacks \"mix\""},
        ErrorCase{"missingPresetFile",
                  {"@in.wav", "@out.wav", "--preset-file", "@absent.json", "--preset-name", "A"},
                  "cannot read preset file"},
        ErrorCase{"presetFileIsANamedPipe",
                  {"@in.wav", "@out.wav", "--preset-file", "@pipe.json", "--preset-name", "A"},
                  "it is a named pipe, not a file"},
        ErrorCase{"presetFileWithoutEnd",
                  {"@in.wav", "@out.wav", "--preset-file", "/dev/zero", "--preset-name", "A"},
                  "it is a device, not a file"}),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace quellora::testing
