#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_socket.h"

// The connections each worker thread keeps between two documents: at most one per origin
// (scheme, host, port and proxy) and thread, each until the idle time its server allows has
// passed. They are closed when the pool goes, after the workers, never at a thread's exit.
// Take and Keep may be called from any thread; each works on the calling thread's own.
class CConnectionPool {
  public:
    // The calling thread's kept connection to `origin`, if one is there and not idle too long.
    std::unique_ptr<CHttpSocket> Take(const std::string& origin);
    // Keeps the connection for the calling thread's next request to `origin`.
    void Keep(const std::string& origin, std::unique_ptr<CHttpSocket> socket);

  private:
    static constexpr std::size_t kMostOrigins = 4;  // per thread
    struct Idle {
        std::string origin;
        std::unique_ptr<CHttpSocket> socket;
        std::chrono::steady_clock::time_point until;
    };
    std::mutex mutex_;
    std::map<std::thread::id, std::vector<Idle>> idle_;  // guarded by mutex_; oldest first
};
