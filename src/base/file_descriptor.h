#pragma once

#include <unistd.h>

#include <utility>

namespace quellora {

// Owns one open file descriptor and closes it when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // close() reports delayed write errors (NFS, quota), so its result counts.
    int close() { return ::close(std::exchange(fd_, -1)); }

private:
    int fd_;
};

} // namespace quellora
