#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/fetch_failure.h"
#include "engine/socket_platform.h"

// One TLS client session over a connected, non-blocking socket: the layer that https adds under
// the socket seam. It never waits: each step says what it needs before it can go on, and the
// connection waits for that within its own limits.
//
// The peer's chain is verified against the system's store (SSL_CERT_FILE is honoured, and with
// OpenSSL SSL_CERT_DIR too, read once per process), the host name or IP address is checked
// against the certificate, SNI is sent for names, and nothing older than TLS 1.2 is spoken. On
// Windows the system's own TLS (Schannel) speaks it, elsewhere OpenSSL.
class CTlsChannel {
  public:
    enum class Step {
        kDone,
        kWantRead,   // wait until the socket is readable, then call again
        kWantWrite,  // wait until the socket is writable, then call again
        kClosed,     // the peer closed with the TLS close
        kCut,        // the connection ended without the TLS close
        kFailed,     // see Reason()
    };

    // A session for `host` at `port` over `socket`, resuming the last one with that server
    // where it can; null, with the reason in `why`, when no session can be made.
    static std::unique_ptr<CTlsChannel> Open(net::SocketHandle socket, const std::string& host,
                                             int port, FetchFailure* why);
    ~CTlsChannel();
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;

    Step Handshake();
    // Writes part of the bytes; `written` says how many.
    Step Write(const char* data, std::size_t length, std::size_t& written);
    // Reads at most `capacity` bytes; `read` says how many (kDone with 0 never happens).
    Step Read(char* buffer, std::size_t capacity, std::size_t& read);
    // Decrypted bytes already waiting: the socket may not be readable although data is there.
    bool HasPending() const;
    // Once the handshake is done, for the archive: the protocol as web archives name it
    // ("tls/1.3") and the cipher suite by its IANA name ("TLS_AES_128_GCM_SHA256"); empty where
    // the library does not say.
    std::string ProtocolName() const;
    std::string CipherSuite() const;
    // Why the last step failed, in the library's words ("certificate verify failed: ...").
    const std::string& Reason() const { return reason_; }

  private:
    struct Session;
    explicit CTlsChannel(std::unique_ptr<Session> session);
    std::unique_ptr<Session> session_;
    std::string reason_;
};
