// A link with a long round trip, on loopback: listens on 127.0.0.1, forwards every connection to
// a target port, and delays each direction by half the round trip. A new connection's first
// bytes wait one more round trip, as a TCP handshake over such a link would make them.
//   latency_relay LISTEN_PORT TARGET_PORT ROUND_TRIP_MS
// Prints "relay on 127.0.0.1:PORT" once it listens (port 0: any free one), then runs until
// killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One direction of one connection: bytes read now are written `delay` later, in order.
class CDelayedPipe {
  public:
    CDelayedPipe(int from, int to, Clock::duration delay, Clock::duration firstExtra)
        : from_(from), to_(to), delay_(delay), firstExtra_(firstExtra) {}

    void Run() {
        std::thread writer([this] { Write(); });
        std::vector<char> buffer(64 * 1024);
        bool first = true;
        for (;;) {
            const ssize_t got = ::read(from_, buffer.data(), buffer.size());
            const Clock::time_point due =
                Clock::now() + delay_ + (first ? firstExtra_ : Clock::duration::zero());
            first = false;
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({due, got > 0 ? std::string(buffer.data(), got) : std::string()});
            changed_.notify_one();
            if (got <= 0) {
                break;  // the end travels with the same delay
            }
        }
        writer.join();
    }

  private:
    struct Piece {
        Clock::time_point due;
        std::string bytes;  // empty: the peer closed
    };

    void Write() {
        for (;;) {
            Piece piece;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !queue_.empty(); });
                piece = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(piece.due);
            if (piece.bytes.empty()) {
                ::shutdown(to_, SHUT_WR);
                return;
            }
            for (std::size_t done = 0; done < piece.bytes.size();) {
                const ssize_t sent =
                    ::send(to_, piece.bytes.data() + done, piece.bytes.size() - done, MSG_NOSIGNAL);
                if (sent <= 0) {
                    ::shutdown(from_, SHUT_RD);
                    return;
                }
                done += static_cast<std::size_t>(sent);
            }
        }
    }

    int from_, to_;
    Clock::duration delay_, firstExtra_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> queue_;
};

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: latency_relay LISTEN_PORT TARGET_PORT ROUND_TRIP_MS\n");
        return 2;
    }
    const int listenPort = std::atoi(argv[1]);
    const int targetPort = std::atoi(argv[2]);
    const auto roundTrip = std::chrono::milliseconds(std::atoi(argv[3]));
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(listenPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 256) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("latency_relay");
        return 1;
    }
    std::printf("relay on 127.0.0.1:%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) {
            continue;
        }
        std::thread([client, targetPort, roundTrip, yes] {
            const int server = Connect(targetPort);
            if (server < 0) {
                ::close(client);
                return;
            }
            for (const int fd : {client, server}) {
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            }
            CDelayedPipe up(client, server, roundTrip / 2, roundTrip);
            CDelayedPipe down(server, client, roundTrip / 2, Clock::duration::zero());
            std::thread upward([&up] { up.Run(); });
            down.Run();
            upward.join();
            ::close(client);
            ::close(server);
        }).detach();
    }
}
