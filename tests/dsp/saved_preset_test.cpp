#include "dsp/saved_preset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quellora {
namespace {

const std::string validRecord =
    R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Night",)"
    R"("params":{"threshold":-35,"ratio":4,"attackMs":5,"releaseMs":400,)"
    R"("kneeWidth":12,"mix":0.8,"scHpfFreq":150}})";

TEST(SavedPresetCodingTest, RoundTripsEveryField) {
    const std::vector<SavedPreset> presets{
        {Uuid::random(), "Late night \"quiet\" ✓", CompressorParams::defaults()},
        {Uuid::random(), "", {-50, 8, 1, 2000, 0, 0, 500}},
    };
    EXPECT_EQ(decodeSavedPresets(encodeSavedPresets(presets)), presets);
}

TEST(SavedPresetCodingTest, WritesUpperCaseIdsAndShortestFloats) {
    const auto id = *Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    const std::vector<SavedPreset> presets{{id, "A", CompressorParams::defaults()}};
    const auto json = encodeSavedPresets(presets);
    EXPECT_NE(json.find(R"("id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F")"), std::string::npos);
    EXPECT_NE(json.find(R"("mix":0.95)"), std::string::npos) << json;
    EXPECT_EQ(json.find('\n'), std::string::npos);
}

TEST(SavedPresetCodingTest, DecodesARecordAndIgnoresUnknownKeys) {
    auto withExtra = validRecord;
    withExtra.insert(1, R"("colour":"blue",)");
    const auto presets = decodeSavedPresets("[" + withExtra + "]");
    ASSERT_EQ(presets.size(), 1u);
    EXPECT_EQ(presets[0].name, "Night");
    EXPECT_EQ(presets[0].params, (CompressorParams{-35, 4, 5, 400, 12, 0.8f, 150}));
    EXPECT_TRUE(decodeSavedPresets("[]").empty());
}

struct BrokenDocument {
    const char* what;
    std::string json;
};

class StrictDecodingTest : public ::testing::TestWithParam<BrokenDocument> {};

TEST_P(StrictDecodingTest, RejectsTheWholeArray) {
    EXPECT_THROW(decodeSavedPresets(GetParam().json), PresetCodingError) << GetParam().what;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Records, StrictDecodingTest,
    ::testing::Values(
        BrokenDocument{"not JSON", "[{"}, BrokenDocument{"not an array", validRecord},
        BrokenDocument{"one good, one lacking scHpfFreq",
                       "[" + validRecord + "," + replaced(validRecord, R"(,"scHpfFreq":150)", "") +
                           "]"},
        BrokenDocument{
            "missing id",
            "[" + replaced(validRecord, R"("id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)", "") +
                "]"},
        BrokenDocument{"id not a UUID",
                       "[" + replaced(validRecord, "E621E1F8-C36C", "E621E1F8_C36C") + "]"},
        BrokenDocument{"name not a string", "[" + replaced(validRecord, R"("Night")", "7") + "]"},
        BrokenDocument{"number as a string",
                       "[" + replaced(validRecord, R"("ratio":4)", R"("ratio":"4")") + "]"},
        BrokenDocument{"null number",
                       "[" + replaced(validRecord, R"("mix":0.8)", R"("mix":null)") + "]"},
        BrokenDocument{"number too large for a float",
                       "[" + replaced(validRecord, R"("mix":0.8)", R"("mix":1e39)") + "]"},
        BrokenDocument{"params not an object",
                       R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"x","params":[]}])"},
        BrokenDocument{"record not an object", "[1]"}));

TEST(SavedPresetCodingTest, RefusesToEncodeANonFiniteValue) {
    auto params = CompressorParams::defaults();
    params.mix = std::numeric_limits<float>::quiet_NaN();
    const std::vector<SavedPreset> presets{{Uuid::random(), "x", params}};
    EXPECT_THROW(encodeSavedPresets(presets), PresetCodingError);
}

} // namespace
} // namespace quellora
