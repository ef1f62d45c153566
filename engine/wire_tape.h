#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "support/spool.h"

// One exchange as it went over the wire, kept for the archive: the request's bytes, every byte
// received for it, and where among them the answer lies (after any interim answers, before bytes
// that came past its framing). The connection it is attached to fills it in; one thread.
struct WireTape {
    explicit WireTape(std::string scratchFolder) : received(std::move(scratchFolder)) {}

    // Forgets an attempt that found a kept connection gone, for the one that follows.
    void Restart() {
        request.clear();
        received.Clear();
        answerBegin = 0;
        answerEnd.reset();
        truncated.clear();
    }
    // The answer's bytes: from its first to its end, or to the last received.
    std::uint64_t AnswerEnd() const { return answerEnd.value_or(received.Size()); }

    std::string uri;
    std::chrono::system_clock::time_point date;  // when the request went
    std::string httpProtocol;                    // "http/1.1", "http/1.0"
    std::string request;
    CSpool received;
    std::uint64_t answerBegin = 0;
    std::optional<std::uint64_t> answerEnd;
    // Why the answer is not whole, in the archive's words ("length", "time", "disconnect",
    // "unspecified"); empty when it is.
    std::string truncated;
    std::string peerAddress;  // "192.0.2.1", "2001:db8::1"; empty when unknown
    std::string tlsProtocol;  // "tls/1.3"; empty over plain http
    std::string tlsCipher;    // "TLS_AES_128_GCM_SHA256"
};
