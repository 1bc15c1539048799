#pragma once

#include "dsp/channel_layout.h"

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace quellora {

// The shape of an audio file's samples.
struct AudioFileInfo {
    int sndfileFormat = 0; // container | sample encoding
    int channels = 0;
    int sampleRate = 0;
    std::int64_t frames = 0; // as the file's header states it
    // Where the channels play: from the file's channel map, or the
    // conventional order for their count when it has none.
    ChannelLayout layout = ChannelLayout::stereo();
};

// An audio file in any form libsndfile reads, decoded to float frames.
class SoundFileReader {
public:
    // Throws CommandError (bad input) when the file cannot be opened as audio.
    explicit SoundFileReader(const std::filesystem::path& path);
    ~SoundFileReader();
    SoundFileReader(const SoundFileReader&) = delete;
    SoundFileReader& operator=(const SoundFileReader&) = delete;

    const AudioFileInfo& info() const { return info_; }

    // Up to `frameCount` interleaved frames into `frames`; fewer only at the
    // end of the file. Throws CommandError (bad input) when decoding fails.
    std::int64_t read(float* frames, std::int64_t frameCount);

private:
    SNDFILE* file = nullptr;
    AudioFileInfo info_;
    std::string displayName;
};

} // namespace quellora
