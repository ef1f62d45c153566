#include "tools/server/scripted_server.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/server/server_socket.h"

namespace ss = server_socket;

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
    listener_ = static_cast<std::intptr_t>(::socket(AF_INET, SOCK_STREAM, 0));
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
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 128) != 0) {
        if (error)
            *error = std::strerror(errno);
        ss::Close(listener);
        listener_ = -1;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
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
        if (ss::Poll(listener, POLLIN, 50) <= 0) {
            continue;
        }
        const ss::Handle accepted = ::accept(listener, nullptr, nullptr);
        if (accepted == ss::kNone) {
            continue;
        }
        ss::MakeNonBlocking(accepted);
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
    const auto connection = static_cast<ss::Handle>(handle);
    std::string request;
    char buffer[1024];
    while (request.find("\r\n\r\n") == std::string::npos && !stopping_.load()) {
        if (ss::Poll(connection, POLLIN, 50) <= 0) {
            continue;
        }
        const long received = ss::Receive(connection, buffer, sizeof buffer);
        if (received <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    // Take whatever else has already arrived, so that tests see every byte the client sent.
    for (;;) {
        const long received = ss::Receive(connection, buffer, sizeof buffer);
        if (received <= 0) {
            break;
        }
        request.append(buffer, static_cast<std::size_t>(received));
    }
    if (recordRequests_.load()) {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    Play(handle, responder_(request));
    ss::Close(connection);
    std::lock_guard<std::mutex> lock(mutex_);
    --activeConnections_;
    connectionEnded_.notify_all();  // under the lock: Stop may destroy the server right after
}

void ScriptedServer::Play(std::intptr_t handle, const ServerScript& script) {
    const auto connection = static_cast<ss::Handle>(handle);
    for (const ServerStep& step : script.Steps()) {
        if (stopping_.load()) {
            return;
        }
        switch (step.kind) {
            case ServerStep::kSend: {
                // A client that stops reading must not keep Stop() waiting for ever.
                std::size_t sent = 0;
                while (sent < step.bytes.size()) {
                    if (ss::Poll(connection, POLLOUT, 50) <= 0) {
                        if (stopping_.load()) {
                            return;
                        }
                        continue;
                    }
                    const long n =
                        ss::Send(connection, step.bytes.data() + sent, step.bytes.size() - sent);
                    if (n <= 0 && !ss::WouldBlock()) {
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
            case ServerStep::kReset:
                ss::ResetOnClose(connection);
                return;
        }
    }
}
