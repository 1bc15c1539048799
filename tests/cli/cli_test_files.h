#pragma once

#include "cli/sound_file_reader.h"
#include "support/temporary_directory.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quellora::testing {

struct AudioFileContents {
    AudioFileInfo info;
    std::vector<float> samples; // interleaved
};

// `channelMap` (libsndfile's SF_CHANNEL_MAP_* values) is written where the
// format holds one.
void writeAudioFile(const std::filesystem::path& path, const std::vector<float>& samples,
                    int channels, int sampleRate, int sndfileFormat,
                    const std::vector<int>& channelMap = {});
AudioFileContents readAudioFile(const std::filesystem::path& path);
void writeTextFile(const std::filesystem::path& path, const std::string& text);

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

// `quellora process` in this process, with its console captured.
CommandRun runProcess(const std::vector<std::string>& args);

} // namespace quellora::testing
