#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quellora::testing {

// An HTTP/1.1 server on 127.0.0.1 and an ephemeral port, one connection at a
// time, serving fixed bodies by path; anything else is 404. It speaks TLS with
// a certificate for 127.0.0.1 made at start, which certificateFile() holds for
// clients to trust, or plain http when asked to.
class LoopbackHttpServer {
public:
    enum class Scheme { https, http };

    struct Response {
        std::string body;
        // Differs from the body's length for a transfer cut short.
        std::optional<std::size_t> announced;
        // A redirect to this address instead of a body.
        std::string location;
    };

    explicit LoopbackHttpServer(Scheme scheme = Scheme::https);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    void serve(const std::string& path, Response response);
    std::string url(const std::string& path) const;
    // How often `path` was asked for.
    int requests(const std::string& path) const;

    // The PEM certificate of every https server in this process.
    static std::filesystem::path certificateFile();
    static int closedPort();

private:
    struct Tls;
    void answer(int connection);

    Scheme scheme_;
    int port_ = 0;
    int listener_ = -1;
    mutable std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::map<std::string, int> requests_;
    std::thread thread_;
};

} // namespace quellora::testing
