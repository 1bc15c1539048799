#include "cli/command_error.h"
#include "cli/process_options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

namespace quellora {
namespace {

std::size_t fieldIndex(std::string_view key) {
    for (std::size_t index = 0; index < compressorParamFields.size(); ++index) {
        if (compressorParamFields[index].key == key) {
            return index;
        }
    }
    ADD_FAILURE() << "no field " << key;
    return 0;
}

TEST(ProcessOptions, DefaultsToAlignedStandardProcessingInBlocksOf512) {
    const auto options = parseProcessOptions({"in.wav", "out.flac"});

    EXPECT_EQ(options.input, "in.wav");
    EXPECT_EQ(options.output, "out.flac");
    EXPECT_EQ(options.blockFrames, 512);
    EXPECT_TRUE(options.align);
    EXPECT_FALSE(options.savedPreset);
    EXPECT_FALSE(options.metersPath);
    for (const auto& override : options.parameterOverrides) {
        EXPECT_FALSE(override);
    }
}

TEST(ProcessOptions, EachParameterOptionSetsItsOwnFieldInBothSpellings) {
    for (const auto& option : parameterOptions) {
        const auto index = fieldIndex(option.fieldKey);
        const auto& range = compressorParamFields[index].range;
        const float value = range.upperBound;
        const auto text = std::to_string(value);
        for (const auto& args :
             {std::vector<std::string>{"a.wav", std::string(option.name), text, "b.wav"},
              std::vector<std::string>{std::string(option.name) + "=" + text, "a.wav", "b.wav"}}) {
            const auto options = parseProcessOptions(args);
            for (std::size_t other = 0; other < options.parameterOverrides.size(); ++other) {
                EXPECT_EQ(options.parameterOverrides[other].has_value(), other == index)
                    << option.name;
            }
            EXPECT_EQ(options.parameterOverrides[index].value_or(NAN), value) << option.name;
        }
    }
}

TEST(ProcessOptions, LaterValuesWinAndDoubleDashEndsOptions) {
    const auto options = parseProcessOptions({"--block", "64", "--block=128", "--no-align",
                                              "--meters", "m.csv", "--", "-in.wav", "--x.wav"});

    EXPECT_EQ(options.blockFrames, 128);
    EXPECT_FALSE(options.align);
    EXPECT_EQ(options.metersPath, "m.csv");
    EXPECT_EQ(options.input, "-in.wav");
    EXPECT_EQ(options.output, "--x.wav");
}

TEST(ProcessOptions, HelpNeedsNoFiles) {
    EXPECT_TRUE(parseProcessOptions({"-h"}).showHelp);
    EXPECT_TRUE(parseProcessOptions({"in.wav", "--help"}).showHelp);
}

TEST(ProcessOptions, PresetFileComesWithTheNameIfGiven) {
    const auto named = parseProcessOptions(
        {"a.wav", "b.wav", "--preset-file", "p.json", "--preset-name", "Night"});
    ASSERT_TRUE(named.savedPreset);
    EXPECT_EQ(named.savedPreset->file, "p.json");
    EXPECT_EQ(named.savedPreset->name, "Night");
    // Which names there are is only known once the file is read.
    const auto unnamed = parseProcessOptions({"a.wav", "b.wav", "--preset-file", "p.json"});
    ASSERT_TRUE(unnamed.savedPreset);
    EXPECT_FALSE(unnamed.savedPreset->name);
    EXPECT_THROW(parseProcessOptions({"a.wav", "b.wav", "--preset", "standard", "--preset-file",
                                      "p.json", "--preset-name", "Night"}),
                 CommandError);
}

struct NumberCase {
    const char* text;
    std::optional<float> value;
};

class FiniteNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(FiniteNumber, ParsesTheWholeTextOrNothing) {
    EXPECT_EQ(parseFiniteNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FiniteNumber,
    ::testing::Values(NumberCase{"2.5", 2.5f}, NumberCase{"-29", -29.0f}, NumberCase{"1e2", 100.0f},
                      NumberCase{".5", 0.5f}, NumberCase{"", std::nullopt},
                      NumberCase{"12x", std::nullopt}, NumberCase{" 1", std::nullopt},
                      NumberCase{"1 ", std::nullopt}, NumberCase{"+1", std::nullopt},
                      NumberCase{"0x10", std::nullopt}, NumberCase{"nan", std::nullopt},
                      NumberCase{"inf", std::nullopt}, NumberCase{"-infinity", std::nullopt},
                      NumberCase{"1e60", std::nullopt}));

} // namespace
} // namespace quellora
