#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace quellora {

// A transfer that did not complete; what() says why in words a log reader
// can act on ("Could not connect to server", "HTTP 404", ...).
class HttpTransferError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Blocking https transfers for a worker thread. Plain http is refused, for
// the address asked for and for every redirect; a stalled connection gives up
// after a minute; a set `cancelled` flag ends a transfer within about a second.
class HttpTransfer {
public:
    // `certificateAuthorities`: a PEM file of certificates to trust instead
    // of the system's; empty for the system's.
    explicit HttpTransfer(const std::atomic<bool>& cancelled,
                          std::filesystem::path certificateAuthorities = {})
        : cancelled_(cancelled)
        , certificateAuthorities_(std::move(certificateAuthorities)) {}

    // The body of `url`, at most `maxBytes` long. Throws HttpTransferError.
    std::string fetch(const std::string& url, std::size_t maxBytes) const;

    // Writes the body of `url` to the open file `fd`, refusing more than
    // `maxBytes`; returns the byte count. Throws HttpTransferError.
    std::uint64_t download(const std::string& url, int fd, std::uint64_t maxBytes) const;

private:
    const std::atomic<bool>& cancelled_;
    std::filesystem::path certificateAuthorities_;
};

} // namespace quellora
