#include "distribution/loopback_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace quellora::testing {
namespace {

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// One key and self-signed certificate for 127.0.0.1 per test process.
struct Credentials {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    std::filesystem::path file;

    Credentials() {
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 7 * 24 * 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509V3_CTX context;
        X509V3_set_ctx_nodb(&context);
        X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
        for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                                         std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
            X509_add_ext(certificate, extension, -1);
            X509_EXTENSION_free(extension);
        }
        X509_sign(certificate, key, EVP_sha256());

        auto pattern = (std::filesystem::temp_directory_path() / "quellora-tls-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        FILE* out = ::fdopen(fd, "w");
        PEM_write_X509(out, certificate);
        std::fclose(out);
        file = pattern;
    }
    ~Credentials() {
        std::filesystem::remove(file);
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

Credentials& credentials() {
    static Credentials instance;
    return instance;
}

} // namespace

struct LoopbackHttpServer::Tls {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    Tls() {
        SSL_CTX_use_certificate(context, credentials().certificate);
        SSL_CTX_use_PrivateKey(context, credentials().key);
    }
    ~Tls() { SSL_CTX_free(context); }
};

LoopbackHttpServer::LoopbackHttpServer(Scheme scheme)
    : scheme_(scheme)
    , listener_(listenOnLoopback(port_))
    , thread_([this] {
        for (int connection;
             (connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;
             ::close(connection)) {
            answer(connection);
        }
    }) {}

LoopbackHttpServer::~LoopbackHttpServer() {
    ::shutdown(listener_, SHUT_RDWR); // wakes accept() with an error
    thread_.join();
    ::close(listener_);
}

void LoopbackHttpServer::serve(const std::string& path, Response response) {
    const std::scoped_lock lock(mutex_);
    responses_[path] = std::move(response);
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return std::string(scheme_ == Scheme::https ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
}

int LoopbackHttpServer::requests(const std::string& path) const {
    const std::scoped_lock lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}

std::filesystem::path LoopbackHttpServer::certificateFile() {
    return credentials().file;
}

int LoopbackHttpServer::closedPort() {
    int port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

void LoopbackHttpServer::answer(int connection) {
    static Tls tls;
    SSL* session = nullptr;
    if (scheme_ == Scheme::https) {
        session = SSL_new(tls.context);
        SSL_set_fd(session, connection);
        if (SSL_accept(session) != 1) {
            SSL_free(session);
            ERR_clear_error();
            return; // a client that refused the certificate, or plain http
        }
    }
    const auto receive = [&](char* data, int size) {
        return session
                   ? SSL_read(session, data, size)
                   : static_cast<int>(::recv(connection, data, static_cast<std::size_t>(size), 0));
    };
    const auto send = [&](const char* data, int size) {
        return session ? SSL_write(session, data, size)
                       : static_cast<int>(::send(connection, data, static_cast<std::size_t>(size),
                                                 MSG_NOSIGNAL));
    };

    std::string request(8192, '\0');
    const int received = receive(request.data(), static_cast<int>(request.size()));
    const auto start = request.find(' ') + 1;
    const auto path = request.substr(start, request.find(' ', start) - start);
    std::string reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
    {
        const std::scoped_lock lock(mutex_);
        ++requests_[path];
        if (const auto found = responses_.find(path); received > 0 && found != responses_.end()) {
            const auto& response = found->second;
            if (!response.location.empty()) {
                reply = "HTTP/1.1 302 Found\r\nLocation: " + response.location +
                        "\r\nContent-Length: 0\r\n\r\n";
            } else {
                reply = "HTTP/1.1 200 OK\r\nContent-Length: " +
                        std::to_string(response.announced.value_or(response.body.size())) +
                        "\r\n\r\n" + response.body;
            }
        }
    }
    for (std::size_t sent = 0; sent < reply.size();) {
        const int n = send(reply.data() + sent, static_cast<int>(reply.size() - sent));
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    if (session) {
        SSL_shutdown(session);
        SSL_free(session);
    }
}

} // namespace quellora::testing
