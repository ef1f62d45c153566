// The build without a TLS library (Windows, for now): https is refused with a clear reason.
#include "engine/tls_channel.h"

struct CTlsChannel::Session {};

CTlsChannel::CTlsChannel(std::unique_ptr<Session> session) : session_(std::move(session)) {}

CTlsChannel::~CTlsChannel() = default;

bool CTlsChannel::Available() {
    return false;
}

std::unique_ptr<CTlsChannel> CTlsChannel::Open(net::SocketHandle, const std::string&,
                                               FetchFailure* why) {
    if (why != nullptr) {
        *why = {FetchError::kHttpsUnavailable, 0, {}};
    }
    return nullptr;
}

CTlsChannel::Step CTlsChannel::Handshake() {
    return Step::kFailed;
}

CTlsChannel::Step CTlsChannel::Write(const char*, std::size_t, std::size_t& written) {
    written = 0;
    return Step::kFailed;
}

CTlsChannel::Step CTlsChannel::Read(char*, std::size_t, std::size_t& read) {
    read = 0;
    return Step::kFailed;
}

bool CTlsChannel::HasPending() const {
    return false;
}
