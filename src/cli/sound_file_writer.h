#pragma once

#include "cli/sound_file_reader.h"

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace quellora {

// Encodes float frames into an already open file descriptor, which stays
// the caller's (a ReplacementFile's) to sync and close.
class SoundFileWriter {
public:
    // `info.frames` is ignored. Throws CommandError: bad input when
    // libsndfile refuses the format, failure when the system does.
    SoundFileWriter(int fd, const AudioFileInfo& info, std::string displayName);
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    // Throws CommandError (failure) unless every frame was written.
    void write(const float* frames, std::int64_t frameCount);
    // Completes the file (headers, the encoder's last packets). Throws
    // CommandError (failure).
    void close();

private:
    SNDFILE* file = nullptr;
    std::string displayName;
};

} // namespace quellora
