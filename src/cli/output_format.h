#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// The libsndfile format of the output and, when the samples cannot keep the
// input's form, one line telling the user what happens instead.
struct OutputFormat {
    int sndfileFormat = 0; // container | sample encoding
    std::string note;

    friend bool operator==(const OutputFormat&, const OutputFormat&) = default;
};

// The container an output file name asks for by its extension (any case),
// or nothing for an extension we do not write.
std::optional<int> containerForPath(const std::filesystem::path& path);

// "WAV", "FLAC", ... for messages; "this container" for one we do not write.
std::string_view containerName(int container);

// The extensions containerForPath knows, for messages: ".wav, .flac, ...".
std::string knownOutputExtensions();

// PCM keeps its bit depth and floating point stays floating point; where the
// container cannot hold that (float into FLAC), and for lossy or companded
// inputs that have no depth of their own, the samples become float or,
// failing that, 24-bit PCM. Ogg is always written as Vorbis. Throws
// CommandError (bad input) when the container takes none of those for the
// channel count and rate.
OutputFormat chooseOutputFormat(int container, int inputFormat, int channels, int sampleRate);

} // namespace quellora
