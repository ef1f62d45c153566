#include "engine/connection_pool.h"

std::unique_ptr<CHttpSocket> CConnectionPool::Take(const std::string& origin) {
    const auto now = std::chrono::steady_clock::now();
    std::unique_ptr<CHttpSocket> taken;
    std::vector<std::unique_ptr<CHttpSocket>> expired;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Idle>& idle = idle_[std::this_thread::get_id()];
        for (auto it = idle.begin(); it != idle.end();) {
            if (it->origin != origin && now < it->until) {
                ++it;
                continue;
            }
            // Idle for longer than its server allows, or the one asked for.
            (now < it->until ? taken : expired.emplace_back()) = std::move(it->socket);
            it = idle.erase(it);
        }
    }
    for (const auto& socket : expired) {
        socket->Close();  // outside the lock: a close may wait on the network
    }
    return taken;
}

void CConnectionPool::Keep(const std::string& origin, std::unique_ptr<CHttpSocket> socket) {
    const auto until = std::chrono::steady_clock::now() + socket->IdleLimit();
    std::unique_ptr<CHttpSocket> oldest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Idle>& idle = idle_[std::this_thread::get_id()];
        if (idle.size() >= kMostOrigins) {
            oldest = std::move(idle.front().socket);
            idle.erase(idle.begin());
        }
        idle.push_back({origin, std::move(socket), until});
    }
    if (oldest) {
        oldest->Close();
    }
}
