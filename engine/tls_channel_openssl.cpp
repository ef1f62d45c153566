#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <string>

#include "engine/tls_channel.h"

struct CTlsChannel::Session {
    SSL* ssl = nullptr;
    std::string host;     // "host:port", the key its sessions are kept under
    bool broken = false;  // a step failed: nothing of it is worth resuming

    // Remembers a step that broke the session; returns it.
    CTlsChannel::Step Note(CTlsChannel::Step step) {
        broken = broken || step == CTlsChannel::Step::kFailed || step == CTlsChannel::Step::kCut;
        return step;
    }
    ~Session() {
        if (ssl == nullptr) {
            return;
        }
        // A connection let go without the TLS close makes the library forget its session; one
        // that did not fail is let go as closed, without a word on the wire, so that the next
        // connection resumes it.
        if (!broken) {
            SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        }
        SSL_free(ssl);
    }
};

namespace {

// The last session each host gave, so that the next connection to it resumes instead of making
// a whole handshake again (the server's CPU and a round trip saved per connection).
class CSessionCache {
  public:
    static CSessionCache& Instance() {
        static CSessionCache cache;
        return cache;
    }
    CSessionCache() = default;
    CSessionCache(const CSessionCache&) = delete;
    CSessionCache& operator=(const CSessionCache&) = delete;
    // Takes over `session` as the one to resume for `host`.
    void Keep(const std::string& host, SSL_SESSION* session) {
        std::lock_guard<std::mutex> lock(mutex_);
        SSL_SESSION*& kept = sessions_[host];
        if (kept != nullptr) {
            SSL_SESSION_free(kept);
        }
        kept = session;
    }
    // Offers the kept session for `host`, if any, to a new connection.
    void Offer(const std::string& host, SSL* ssl) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto kept = sessions_.find(host);
        if (kept != sessions_.end()) {
            SSL_set_session(ssl, kept->second);
        }
    }

    // Made after the library, so gone before the library's own clean-up at exit.
    ~CSessionCache() {
        for (const auto& [host, session] : sessions_) {
            SSL_SESSION_free(session);
        }
    }

  private:
    std::mutex mutex_;
    std::map<std::string, SSL_SESSION*> sessions_;  // guarded by mutex_
};

int g_hostIndex = -1;  // the SSL's slot for the host its sessions are kept under

int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
    const auto* host = static_cast<const std::string*>(SSL_get_ex_data(ssl, g_hostIndex));
    if (host == nullptr) {
        return 0;  // not ours to keep: the library frees it
    }
    CSessionCache::Instance().Keep(*host, session);
    return 1;
}

// One context for the process: loading the system's store once, not per document, keeps a small
// https document about as cheap as a plain one.
SSL_CTX* ClientContext(std::string& error) {
    static std::once_flag once;
    static SSL_CTX* context = nullptr;
    static std::string failure;
    std::call_once(once, [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (made == nullptr || SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION) != 1 ||
            SSL_CTX_set_default_verify_paths(made) != 1) {
            failure = "TLS cannot be set up";
            SSL_CTX_free(made);
            return;
        }
        SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE);
        g_hostIndex = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        SSL_CTX_set_session_cache_mode(made,
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(made, KeepNewSession);
        context = made;
    });
    error = failure;
    return context;
}

// The library's reason for the last failure on this thread, with the certificate's complaint
// where verification failed: "certificate verify failed: unable to get local issuer certificate".
std::string LastReason(SSL* ssl) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    std::string text = reason != nullptr ? reason : "TLS error";
    const long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) {
        text = std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify);
    }
    return text;
}

}  // namespace

CTlsChannel::CTlsChannel(std::unique_ptr<Session> session) : session_(std::move(session)) {}

CTlsChannel::~CTlsChannel() = default;

std::unique_ptr<CTlsChannel> CTlsChannel::Open(net::SocketHandle socket, const std::string& host,
                                               int port, FetchFailure* why) {
    std::string error;
    SSL_CTX* context = ClientContext(error);
    auto session = std::make_unique<Session>();
    session->ssl = context != nullptr ? SSL_new(context) : nullptr;
    SSL* ssl = session->ssl;
    bool ready = ssl != nullptr && SSL_set_fd(ssl, static_cast<int>(socket)) == 1;
    if (ready && net::IsAddressLiteral(host.c_str())) {
        ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    } else if (ready) {
        ready = SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
                SSL_set1_host(ssl, host.c_str()) == 1;
    }
    if (ready) {
        session->host = host + ":" + std::to_string(port);
        SSL_set_ex_data(ssl, g_hostIndex, &session->host);
        CSessionCache::Instance().Offer(session->host, ssl);
    }
    if (!ready) {
        if (why != nullptr) {
            *why = {FetchError::kTls, 0, error.empty() ? "TLS cannot be set up" : error};
        }
        ERR_clear_error();
        return nullptr;
    }
    return std::unique_ptr<CTlsChannel>(new CTlsChannel(std::move(session)));
}

namespace {

CTlsChannel::Step Classify(SSL* ssl, int result, std::string& reason) {
    switch (SSL_get_error(ssl, result)) {
        case SSL_ERROR_WANT_READ:
            return CTlsChannel::Step::kWantRead;
        case SSL_ERROR_WANT_WRITE:
            return CTlsChannel::Step::kWantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return CTlsChannel::Step::kClosed;
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0) {
                return CTlsChannel::Step::kCut;  // an end of file the peer did not announce
            }
            break;
        case SSL_ERROR_SSL:
            if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                ERR_clear_error();
                return CTlsChannel::Step::kCut;
            }
            break;
        default:
            break;
    }
    reason = LastReason(ssl);
    return CTlsChannel::Step::kFailed;
}

}  // namespace

CTlsChannel::Step CTlsChannel::Handshake() {
    const int result = SSL_connect(session_->ssl);
    if (result == 1) {
        return Step::kDone;
    }
    const Step step = session_->Note(Classify(session_->ssl, result, reason_));
    // A peer that hangs up during the handshake has not answered at all.
    if (step == Step::kCut || step == Step::kClosed) {
        reason_ = "the server closed during the TLS handshake";
        return session_->Note(Step::kFailed);
    }
    return step;
}

CTlsChannel::Step CTlsChannel::Write(const char* data, std::size_t length, std::size_t& written) {
    written = 0;
    const int result = SSL_write_ex(session_->ssl, data, length, &written) == 1 ? 1 : 0;
    return result == 1 ? Step::kDone : session_->Note(Classify(session_->ssl, result, reason_));
}

CTlsChannel::Step CTlsChannel::Read(char* buffer, std::size_t capacity, std::size_t& read) {
    read = 0;
    const int result = SSL_read_ex(session_->ssl, buffer, capacity, &read) == 1 ? 1 : 0;
    return result == 1 ? Step::kDone : session_->Note(Classify(session_->ssl, result, reason_));
}

bool CTlsChannel::HasPending() const {
    return SSL_pending(session_->ssl) > 0;
}

std::string CTlsChannel::ProtocolName() const {
    // "TLSv1.3" as OpenSSL says it.
    const std::string version = SSL_get_version(session_->ssl);
    return version.rfind("TLSv", 0) == 0 ? "tls/" + version.substr(4) : std::string();
}

std::string CTlsChannel::CipherSuite() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(session_->ssl);
    const char* name = cipher != nullptr ? SSL_CIPHER_standard_name(cipher) : nullptr;
    return name != nullptr ? name : "";
}
