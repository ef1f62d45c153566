#include "tools/server/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

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

ServerScript& ServerScript::Close() {
    steps_.push_back({ServerStep::kClose, {}, 0});
    return *this;
}

ServerScript& ServerScript::Reset() {
    steps_.push_back({ServerStep::kReset, {}, 0});
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
}

bool ScriptedServer::Start(int port, std::string* error) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 128) != 0) {
        if (error)
            *error = std::strerror(errno);
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
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
    if (listener_ >= 0) {
        ::close(listener_);
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
    while (!stopping_.load()) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0) {
            continue;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        ++connections_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++activeConnections_;
        }
        // Detached, so that a long run does not pile up finished threads; Stop waits for the count.
        std::thread(&ScriptedServer::Serve, this, connection).detach();
    }
}

void ScriptedServer::Serve(int connection) {
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && !stopping_.load()) {
        pollfd entry{connection, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0) {
            continue;
        }
        const ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    // Take whatever else has already arrived, so that tests see every byte the client sent.
    for (;;) {
        const ssize_t received = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    if (recordRequests_.load()) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    Play(connection, responder_(request));
    ::close(connection);
    std::lock_guard<std::mutex> lock(mutex_);
    --activeConnections_;
    connectionEnded_.notify_all();  // under the lock: Stop may destroy the server right after
}

void ScriptedServer::Play(int connection, const ServerScript& script) {
    for (const ServerStep& step : script.Steps()) {
        if (stopping_.load()) {
            return;
        }
        switch (step.kind) {
            case ServerStep::kSend: {
                // A client that stops reading must not keep Stop() waiting for ever.
                std::size_t sent = 0;
                while (sent < step.bytes.size()) {
                    pollfd entry{connection, POLLOUT, 0};
                    if (::poll(&entry, 1, 50) <= 0) {
                        if (stopping_.load()) {
                            return;
                        }
                        continue;
                    }
                    const ssize_t n = ::send(connection, step.bytes.data() + sent,
                                             step.bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                    if (n <= 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                        return;  // the client has gone
                    }
                    sent += n > 0 ? static_cast<std::size_t>(n) : 0;
                }
                break;
            }
            case ServerStep::kSleep: {
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait_for(lock, std::chrono::milliseconds(step.milliseconds),
                                  [this] { return stopping_.load(); });
                break;
            }
            case ServerStep::kStall: {
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait(lock, [this] { return stopping_.load(); });
                return;
            }
            case ServerStep::kClose:
                return;
            case ServerStep::kReset: {
                const linger abort{1, 0};  // closing with a zero linger sends RST
                ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                return;
            }
        }
    }
}
