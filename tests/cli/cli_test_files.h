#pragma once

#include "cli/sound_file_reader.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quellora::testing {

// A directory of its own for one test, removed with its contents.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

    // Every file below the directory by relative path, with its bytes.
    std::map<std::string, std::string> snapshot() const;

private:
    std::filesystem::path root;
};

struct AudioFileContents {
    AudioFileInfo info;
    std::vector<float> samples; // interleaved
};

void writeAudioFile(const std::filesystem::path& path, const std::vector<float>& samples,
                    int channels, int sampleRate, int sndfileFormat);
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
