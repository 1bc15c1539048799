#pragma once

#include <filesystem>
#include <string_view>

namespace quellora {

// A file that takes the place of `target` only when committed. It is written
// beside the target under a temporary name and renamed over it after being
// flushed to disk, so a failure or an interruption never leaves a partial or
// clobbered target. Without a commit the temporary file is removed.
//
// A target that is a symbolic link is written through: the file it points
// to is replaced, the link stays. Only links of this user's to files of this
// user's are followed.
class ReplacementFile {
public:
    // Throws CommandError: bad input for a link it will not follow, failure
    // when the temporary file cannot be created.
    explicit ReplacementFile(const std::filesystem::path& target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Open for writing until commit; owned by this object.
    int descriptor() const { return fd; }

    // All of `bytes`, or throws CommandError (failure).
    void write(std::string_view bytes);

    // Gives the file the target's permission bits without set-user-ID,
    // set-group-ID and sticky (or the usual ones for a new file), flushes it
    // to disk and renames it over the target. Throws
    // CommandError (failure); the temporary file is then removed.
    void commit();

private:
    [[noreturn]] void fail(std::string_view action) const;

    std::filesystem::path target;
    std::filesystem::path displayName;
    std::filesystem::path temporaryPath;
    int fd = -1;
    bool committed = false;
};

} // namespace quellora
