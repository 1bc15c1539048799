#include "cli/sound_file_writer.h"

#include "cli/command_error.h"

#include <fmt/format.h>

#include <utility>

namespace quellora {

SoundFileWriter::SoundFileWriter(int fd, const AudioFileInfo& info, std::string displayName_)
    : displayName(std::move(displayName_)) {
    SF_INFO sfInfo{};
    sfInfo.format = info.sndfileFormat;
    sfInfo.channels = info.channels;
    sfInfo.samplerate = info.sampleRate;
    file = sf_open_fd(fd, SFM_WRITE, &sfInfo, SF_FALSE);
    if (file == nullptr) {
        const auto message =
            fmt::format("cannot write \"{}\": {}", displayName, sf_strerror(nullptr));
        throw sf_error(nullptr) == SF_ERR_SYSTEM ? CommandError::failure(message)
                                                 : CommandError::badInput(message);
    }
    // The compressor limits its output to full scale, but a float input may
    // go beyond it on the dry side; integer samples clip there instead of
    // wrapping around.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

SoundFileWriter::~SoundFileWriter() {
    if (file != nullptr) {
        sf_close(file);
    }
}

void SoundFileWriter::write(const float* frames, std::int64_t frameCount) {
    if (sf_writef_float(file, frames, frameCount) != frameCount) {
        throw CommandError::failure(
            fmt::format("cannot write \"{}\": {}", displayName, sf_strerror(file)));
    }
}

void SoundFileWriter::close() {
    const int status = sf_close(std::exchange(file, nullptr));
    if (status != SF_ERR_NO_ERROR) {
        throw CommandError::failure(
            fmt::format("cannot write \"{}\": {}", displayName, sf_error_number(status)));
    }
}

} // namespace quellora
