#include "cli_test_files.h"

#include "cli/process_command.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quellora::testing {

void writeAudioFile(const std::filesystem::path& path, const std::vector<float>& samples,
                    int channels, int sampleRate, int sndfileFormat,
                    const std::vector<int>& channelMap) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = sndfileFormat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!channelMap.empty()) {
        auto map = channelMap;
        ASSERT_EQ(sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map.data(),
                             static_cast<int>(map.size() * sizeof(int))),
                  SF_TRUE);
    }
    const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
    EXPECT_EQ(sf_writef_float(file, samples.data(), frames), frames);
    EXPECT_EQ(sf_close(file), 0);
}

AudioFileContents readAudioFile(const std::filesystem::path& path) {
    SoundFileReader reader(path);
    AudioFileContents contents{reader.info(), {}};
    std::vector<float> buffer(static_cast<std::size_t>(4096 * contents.info.channels));
    while (const auto frames = reader.read(buffer.data(), 4096)) {
        contents.samples.insert(contents.samples.end(), buffer.begin(),
                                buffer.begin() + frames * contents.info.channels);
    }
    return contents;
}

void writeTextFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

CommandRun runProcess(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runProcessCommand(args, {out, err, false});
    return {status, out.str(), err.str()};
}

} // namespace quellora::testing
