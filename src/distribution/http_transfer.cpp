#include "distribution/http_transfer.h"

#include <curl/curl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

namespace quellora {
namespace {

// Where the body goes; returns false to stop the transfer.
using Sink = std::function<bool(const char* data, std::size_t size)>;

struct TransferState {
    const std::atomic<bool>* cancelled = nullptr;
    const std::filesystem::path* certificateAuthorities = nullptr;
    Sink sink;
    std::uint64_t received = 0;
    std::uint64_t maxBytes = 0;
    bool tooLarge = false;
    std::string sinkError;
};

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw HttpTransferError("libcurl could not be initialised");
        }
    });
}

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context) {
    auto& state = *static_cast<TransferState*>(context);
    const auto bytes = size * count;
    if (state.received + bytes > state.maxBytes) {
        state.tooLarge = true;
        return 0;
    }
    if (!state.sink(data, bytes)) {
        return 0;
    }
    state.received += bytes;
    return bytes;
}

int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& state = *static_cast<TransferState*>(context);
    return state.cancelled->load(std::memory_order_relaxed) ? 1 : 0;
}

std::uint64_t transfer(const std::string& url, TransferState& state) {
    initialiseCurlOnce();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     &curl_easy_cleanup);
    if (!handle) {
        throw HttpTransferError("libcurl could not create a transfer");
    }
    CURL* curl = handle.get();
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // A signed feed still tells a listener what is installed, and plain http
    // would let anyone on the way hold back or replay announcements.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    if (!state.certificateAuthorities->empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, state.certificateAuthorities->c_str());
    }
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    // Worker threads must not get curl's SIGALRM-based timeouts.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Quellora-Updater");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);

    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        return state.received;
    }
    if (state.tooLarge) {
        throw HttpTransferError(fmt::format("more than the expected {} bytes", state.maxBytes));
    }
    if (!state.sinkError.empty()) {
        throw HttpTransferError(state.sinkError);
    }
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        throw HttpTransferError("cancelled");
    }
    throw HttpTransferError(errorText[0] != '\0' ? std::string(errorText)
                                                 : std::string(curl_easy_strerror(result)));
}

} // namespace

std::string HttpTransfer::fetch(const std::string& url, std::size_t maxBytes) const {
    std::string body;
    TransferState state;
    state.cancelled = &cancelled_;
    state.certificateAuthorities = &certificateAuthorities_;
    state.maxBytes = maxBytes;
    state.sink = [&body](const char* data, std::size_t size) {
        body.append(data, size);
        return true;
    };
    transfer(url, state);
    return body;
}

std::uint64_t HttpTransfer::download(const std::string& url, int fd, std::uint64_t maxBytes) const {
    TransferState state;
    state.cancelled = &cancelled_;
    state.certificateAuthorities = &certificateAuthorities_;
    state.maxBytes = maxBytes;
    state.sink = [fd, &state](const char* data, std::size_t size) {
        while (size > 0) {
            const auto written = ::write(fd, data, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0) {
                state.sinkError =
                    fmt::format("cannot write the download: {}", std::strerror(errno));
                return false;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    };
    return transfer(url, state);
}

} // namespace quellora
