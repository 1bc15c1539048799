#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace quellora::testing {

// An HTTP/1.1 server on 127.0.0.1 and an ephemeral port, one connection at a
// time, serving fixed bodies by path; anything else is 404.
class LoopbackHttpServer {
public:
    // `announced` differs from the body's length for a transfer cut short.
    struct Response {
        std::string body;
        std::optional<std::size_t> announced;
    };

    LoopbackHttpServer() = default;
    ~LoopbackHttpServer() {
        ::shutdown(listener_, SHUT_RDWR); // wakes accept() with an error
        thread_.join();
        ::close(listener_);
    }

    void serve(const std::string& path, Response response) {
        const std::scoped_lock lock(mutex_);
        responses_[path] = std::move(response);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    static int closedPort() {
        int port = 0;
        ::close(listen(port));
        return port;
    }

private:
    static int listen(int& port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port = ntohs(address.sin_port);
        return fd;
    }

    void answer(int connection) {
        std::string request(8192, '\0');
        const auto received = ::recv(connection, request.data(), request.size(), 0);
        const auto start = request.find(' ') + 1;
        const auto path = request.substr(start, request.find(' ', start) - start);
        std::string reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        const std::scoped_lock lock(mutex_);
        if (const auto found = responses_.find(path); received > 0 && found != responses_.end()) {
            const auto& [body, announced] = found->second;
            reply = "HTTP/1.1 200 OK\r\nContent-Length: " +
                    std::to_string(announced.value_or(body.size())) + "\r\n\r\n" + body;
        }
        for (std::size_t sent = 0; sent < reply.size();) {
            const auto n =
                ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    int port_ = 0;
    int listener_ = listen(port_);
    std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::thread thread_{[this] {
        for (int connection;
             (connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
             ::close(connection)) {
            answer(connection);
        }
    }};
};

} // namespace quellora::testing
