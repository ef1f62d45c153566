#include "support/service_platform.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "support/decimal.h"

namespace platform {

bool NotifyServiceManager(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || (name[0] != '/' && name[0] != '@')) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path) {
        return false;  // a path that does not fit names some other socket
    }
    std::memcpy(address.sun_path, name, length);
    if (name[0] == '@') {
        address.sun_path[0] = '\0';  // an abstract socket's name has no end mark
    }
    const int descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        return false;
    }
    const auto size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '@' ? 0 : 1));
    ssize_t sent;
    do {
        sent = ::sendto(descriptor, state.data(), state.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), size);
    } while (sent < 0 && errno == EINTR);
    ::close(descriptor);
    return sent == static_cast<ssize_t>(state.size());
}

bool IsJournalStream(std::FILE* stream) {
    // "device:inode" of the stream the journal gave the service; a stream redirected since
    // (a pipe, a file) is not it.
    const char* named = std::getenv("JOURNAL_STREAM");
    if (named == nullptr) {
        return false;
    }
    const std::string text(named);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const auto device = ParseDecimal<unsigned long long>(text.substr(0, colon));
    const auto inode = ParseDecimal<unsigned long long>(text.substr(colon + 1));
    struct stat status {};
    return device && inode && ::fstat(::fileno(stream), &status) == 0 && status.st_dev == *device &&
           status.st_ino == *inode;
}

}  // namespace platform
