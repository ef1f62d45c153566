#include "tools/server/scripted_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/server/server_socket.h"

#ifdef NOVU_SERVER_TLS
#include <openssl/err.h>
#include <openssl/ssl.h>
#endif

namespace ss = server_socket;

// One accepted connection: plain bytes, or TLS over them. Receive and Send never block: they
// give -1 when the socket must be waited for (`wantWrite` tells which way), -2 on an error and
// 0 (Receive) when the peer closed.
struct ScriptedServer::Channel {
    ss::Handle socket;
#ifdef NOVU_SERVER_TLS
    SSL* ssl = nullptr;
#endif
    bool wantWrite = false;

    long Receive(char* buffer, std::size_t capacity) {
#ifdef NOVU_SERVER_TLS
        if (ssl != nullptr) {
            std::size_t read = 0;
            if (SSL_read_ex(ssl, buffer, capacity, &read) == 1) {
                return static_cast<long>(read);
            }
            return TlsProblem(0);
        }
#endif
        const long received = ss::Receive(socket, buffer, capacity);
        wantWrite = false;
        return received >= 0 ? received : ss::WouldBlock() ? -1 : -2;
    }
    long Send(const char* data, std::size_t length) {
#ifdef NOVU_SERVER_TLS
        if (ssl != nullptr) {
            std::size_t written = 0;
            if (SSL_write_ex(ssl, data, length, &written) == 1) {
                return static_cast<long>(written);
            }
            return TlsProblem(0);
        }
#endif
        const long sent = ss::Send(socket, data, length);
        wantWrite = true;
        return sent >= 0 ? sent : ss::WouldBlock() ? -1 : -2;
    }
#ifdef NOVU_SERVER_TLS
    long TlsProblem(int result) {
        const int error = SSL_get_error(ssl, result);
        ERR_clear_error();
        wantWrite = error == SSL_ERROR_WANT_WRITE;
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            return -1;
        }
        return error == SSL_ERROR_ZERO_RETURN ? 0 : -2;
    }
#endif
    // Waits up to `milliseconds` for the way the last call asked for.
    bool Wait(int milliseconds) {
        return ss::Poll(socket, wantWrite ? POLLOUT : POLLIN, milliseconds) > 0;
    }
};

ServerScript& ServerScript::Send(std::string bytes) {
    steps_.push_back({ServerStep::kSend, std::move(bytes), 0});
    return *this;
}

ServerScript& ServerScript::Sleep(int milliseconds) {
    steps_.push_back({ServerStep::kSleep, {}, milliseconds});
    return *this;
}

ServerScript& ServerScript::Drip(const std::string& bytes, std::size_t pieceSize, int sleepMs) {
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
        Send(bytes.substr(at, pieceSize));
        if (at + pieceSize < bytes.size()) {
            Sleep(sleepMs);
        }
    }
    return *this;
}

ServerScript& ServerScript::Stall() {
    steps_.push_back({ServerStep::kStall, {}, 0});
    return *this;
}

ServerScript& ServerScript::Next() {
    steps_.push_back({ServerStep::kNext, {}, 0});
    return *this;
}

ServerScript& ServerScript::Close() {
    steps_.push_back({ServerStep::kClose, {}, 0});
    return *this;
}

ServerScript& ServerScript::Reset() {
    steps_.push_back({ServerStep::kReset, {}, 0});
    return *this;
}

ServerScript& ServerScript::Mark() {
    steps_.push_back({ServerStep::kMark, {}, 0});
    return *this;
}

ServerScript& ServerScript::AwaitRelease() {
    steps_.push_back({ServerStep::kAwait, {}, 0});
    return *this;
}

void ScriptedServer::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++releases_;
    }
    stopped_.notify_all();
}

ServerScript& ServerScript::Cut() {
    steps_.push_back({ServerStep::kCut, {}, 0});
    return *this;
}

std::string HttpResponse(int status, const std::string& body, const std::string& extraHeaders) {
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
    return "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
           "Content-Type: application/octet-stream\r\n\r\n" + body;
}

ScriptedServer::ScriptedServer(Responder responder) : responder_(std::move(responder)) {}

ScriptedServer::~ScriptedServer() {
    Stop();
#ifdef NOVU_SERVER_TLS
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
#endif
}

bool ScriptedServer::UseTls(const std::string& certificateFile, const std::string& keyFile,
                            std::string* error) {
#ifdef NOVU_SERVER_TLS
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr ||
        SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        if (error) {
            *error = "cannot load " + certificateFile + " and " + keyFile;
        }
        SSL_CTX_free(context);
        ERR_clear_error();
        return false;
    }
    SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
    tlsContext_ = context;
    return true;
#else
    (void)certificateFile;
    (void)keyFile;
    if (error) {
        *error = "this build has no TLS library";
    }
    return false;
#endif
}

bool ScriptedServer::Start(int port, std::string* error) {
    return Listen(false, port, error);
}

bool ScriptedServer::StartIPv6(int port, std::string* error) {
    return Listen(true, port, error);
}

bool ScriptedServer::Listen(bool ipv6, int port, std::string* error) {
    listener_ = static_cast<std::intptr_t>(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
    if (listener_ == static_cast<std::intptr_t>(ss::kNone)) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    const ss::Handle listener = static_cast<ss::Handle>(listener_);
#ifndef _WIN32
    // On Windows the same option would let another program take the port over.
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    address6.sin6_port = htons(static_cast<std::uint16_t>(port));
    sockaddr* bound =
        ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
    socklen_t length = ipv6 ? sizeof address6 : sizeof address;
    if (::bind(listener, bound, length) != 0 || ::listen(listener, 128) != 0) {
        if (error)
            *error = std::strerror(errno);
        ss::Close(listener);
        listener_ = -1;
        return false;
    }
    ::getsockname(listener, bound, &length);
    port_ = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
    acceptThread_ = std::thread(&ScriptedServer::AcceptLoop, this);
    return true;
}

void ScriptedServer::Stop() {
    {
        // Under the lock, so that a connection about to wait cannot miss the news.
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_.exchange(true)) {
            return;
        }
        stopped_.notify_all();
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    if (listener_ != -1) {
        ss::Close(static_cast<ss::Handle>(listener_));
        listener_ = -1;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    connectionEnded_.wait(lock, [this] { return activeConnections_ == 0; });
}

std::vector<std::string> ScriptedServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedServer::AcceptLoop() {
    const ss::Handle listener = static_cast<ss::Handle>(listener_);
    while (!stopping_.load()) {
        // Short, so that Stop, which waits for this loop, takes no noticeable time.
        if (ss::Poll(listener, POLLIN, 5) <= 0) {
            continue;
        }
        const ss::Handle accepted = ::accept(listener, nullptr, nullptr);
        if (accepted == ss::kNone) {
            continue;
        }
        ss::MakeNonBlocking(accepted);
        ss::SendAtOnce(accepted);
        const auto connection = static_cast<std::intptr_t>(accepted);
        ++connections_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++activeConnections_;
        }
        // Detached, so that a long run does not pile up finished threads; Stop waits for the count.
        std::thread(&ScriptedServer::Serve, this, connection).detach();
    }
}

void ScriptedServer::Serve(std::intptr_t handle) {
    Channel channel{static_cast<ss::Handle>(handle)};
#ifdef NOVU_SERVER_TLS
    if (tlsContext_ != nullptr) {
        channel.ssl = SSL_new(static_cast<SSL_CTX*>(tlsContext_));
        SSL_set_fd(channel.ssl, static_cast<int>(channel.socket));
        int accepted = 0;
        while (!stopping_.load() && (accepted = SSL_accept(channel.ssl)) != 1) {
            if (channel.TlsProblem(accepted) != -1) {
                break;  // the client gave up on the handshake (an untrusted certificate, ...)
            }
            channel.Wait(50);
        }
        if (accepted == 1 && SSL_session_reused(channel.ssl) == 1) {
            ++resumed_;
        }
        if (accepted != 1) {
            SSL_free(channel.ssl);
            channel.ssl = nullptr;
            ss::Close(channel.socket);
            std::lock_guard<std::mutex> lock(mutex_);
            --activeConnections_;
            connectionEnded_.notify_all();
            return;
        }
    }
#endif
    int connectionRequests = 0;
    bool next = true;
    while (next && !stopping_.load()) {
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos && !stopping_.load()) {
            const long received = channel.Receive(buffer, sizeof buffer);
            if (received == -1) {
                channel.Wait(10);  // a short look, so that Stop never waits long for a reader
                continue;
            }
            if (received <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(received));
        }
        // Take whatever else has already arrived, so that tests see every byte the client sent.
        for (;;) {
            const long received = channel.Receive(buffer, sizeof buffer);
            if (received <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(received));
        }
        if (request.empty() && connectionRequests > 0) {
            break;  // the client closed its persistent connection
        }
        ++connectionRequests;
        if (recordRequests_.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        next = Play(channel, responder_(request));
    }
#ifdef NOVU_SERVER_TLS
    if (channel.ssl != nullptr) {
        SSL_free(channel.ssl);
    }
#endif
    ss::Close(channel.socket);
    std::lock_guard<std::mutex> lock(mutex_);
    --activeConnections_;
    connectionEnded_.notify_all();  // under the lock: Stop may destroy the server right after
}

bool ScriptedServer::SendAll(Channel& channel, const std::string& bytes) {
    // A client that stops reading must not keep Stop() waiting for ever.
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = channel.Send(bytes.data() + sent, bytes.size() - sent);
        if (n == -2) {
            return false;  // the client has gone
        }
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (!channel.Wait(50) && stopping_.load()) {
            return false;
        }
    }
    return true;
}

bool ScriptedServer::Play(Channel& channel, const ServerScript& script) {
    bool closeCleanly = true;
    bool ended = false;
    for (auto step = script.Steps().begin(); step != script.Steps().end() && !ended; ++step) {
        if (stopping_.load()) {
            return false;
        }
        switch (step->kind) {
            case ServerStep::kSend:
                if (!SendAll(channel, step->bytes)) {
                    return false;
                }
                break;
            case ServerStep::kSleep: {
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait_for(lock, std::chrono::milliseconds(step->milliseconds),
                                  [this] { return stopping_.load(); });
                break;
            }
            case ServerStep::kStall: {
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait(lock, [this] { return stopping_.load(); });
                return false;
            }
            case ServerStep::kReset:
                ss::ResetOnClose(channel.socket);
                return false;
            case ServerStep::kCut:
                closeCleanly = false;
                ended = true;
                break;
            case ServerStep::kClose:
                ended = true;
                break;
            case ServerStep::kNext:
                return true;
            case ServerStep::kMark:
                ++marks_;
                break;
            case ServerStep::kAwait: {
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait(lock, [this] { return stopping_.load() || releases_ > 0; });
                if (stopping_.load()) {
                    return false;
                }
                --releases_;
                break;
            }
        }
    }
#ifdef NOVU_SERVER_TLS
    if (channel.ssl != nullptr && closeCleanly) {
        SSL_shutdown(channel.ssl);  // the TLS close: the body ends here, it is not cut
    }
#endif
    (void)closeCleanly;
    return false;
}
