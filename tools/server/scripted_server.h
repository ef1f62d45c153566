#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What the server does on one connection after it has read the request, step by step.
struct ServerStep {
    enum Kind { kSend, kSleep, kStall, kClose, kReset, kCut, kNext, kMark, kAwait };
    Kind kind = kSend;
    std::string bytes;     // kSend
    int milliseconds = 0;  // kSleep
};

class ServerScript {
  public:
    ServerScript& Send(std::string bytes);
    ServerScript& Sleep(int milliseconds);
    // Sends `bytes` in pieces of `pieceSize`, sleeping between them.
    ServerScript& Drip(const std::string& bytes, std::size_t pieceSize, int sleepMs);
    // Holds the connection open, silent, until the server stops.
    ServerScript& Stall();
    // Closes the connection (also what happens after the last step).
    ServerScript& Close();
    // Aborts the connection: the peer sees a reset, not a close.
    ServerScript& Reset();
    // Over TLS: closes the connection without the TLS close (plain: the same as Close).
    ServerScript& Cut();
    // Keeps the connection: the next request on it is read and answered by the responder's
    // script for it (a persistent connection). A client that closes instead ends it.
    ServerScript& Next();
    // Counts that the steps before it were played (ScriptedServer::MarksPassed): what was sent
    // on a loopback connection is then in the client's socket.
    ServerScript& Mark();
    // Waits, silent, until the test lets it go on (ScriptedServer::Release), or the server stops:
    // what follows is sent when the test says, not after a guessed time.
    ServerScript& AwaitRelease();
    const std::vector<ServerStep>& Steps() const { return steps_; }

  private:
    std::vector<ServerStep> steps_;
};

// A plain HTTP answer: the status line, the given headers, a blank line and the body.
std::string HttpResponse(int status, const std::string& body, const std::string& extraHeaders = "");

// A TCP server on a loopback address only, one thread per connection. It reads each request up to
// its blank line (or up to the peer's half-close), records the raw bytes and plays the script the
// responder gives for it. Stop() ends stalled connections and waits for every one to finish.
class ScriptedServer {
  public:
    using Responder = std::function<ServerScript(const std::string& request)>;

    explicit ScriptedServer(Responder responder);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // Binds 127.0.0.1 (port 0: an ephemeral one) and starts accepting. False when binding fails;
    // `error` then says why.
    bool Start(int port = 0, std::string* error = nullptr);
    // The same on the IPv6 loopback address ::1.
    bool StartIPv6(int port = 0, std::string* error = nullptr);
    // Speaks TLS with this certificate chain and key (PEM files) on every connection from now
    // on; false, with the reason, where it cannot (no TLS library in this build, bad files).
    bool UseTls(const std::string& certificateFile, const std::string& keyFile,
                std::string* error = nullptr);
    void Stop();
    int Port() const { return port_; }

    std::vector<std::string> Requests() const;
    // Whether requests are kept for Requests() (on by default; a long-running site turns it off).
    void SetRecordRequests(bool record) { recordRequests_ = record; }
    int ConnectionCount() const { return connections_.load(); }
    int MarksPassed() const { return marks_.load(); }
    // Lets one script waiting in AwaitRelease go on, now or when one comes to it.
    void Release();
    // TLS connections whose client resumed an earlier session instead of a whole handshake.
    int ResumedCount() const { return resumed_.load(); }

    struct Channel;  // one accepted connection, plain or TLS

  private:
    bool Listen(bool ipv6, int port, std::string* error);
    void AcceptLoop();
    void Serve(std::intptr_t connection);
    // True when the script keeps the connection for the next request.
    bool Play(Channel& channel, const ServerScript& script);
    bool SendAll(Channel& channel, const std::string& bytes);

    Responder responder_;
    std::intptr_t listener_ = -1;  // the platform's socket handle
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> recordRequests_{true};
    std::atomic<int> connections_{0};
    std::atomic<int> resumed_{0};
    std::atomic<int> marks_{0};
    int releases_ = 0;  // guarded by mutex_
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    int activeConnections_ = 0;  // guarded by mutex_
    std::condition_variable connectionEnded_;
    std::vector<std::string> requests_;  // guarded by mutex_
    void* tlsContext_ = nullptr;         // the TLS library's server context, when UseTls
};
