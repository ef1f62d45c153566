#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <mutex>

#include "engine/tls_channel.h"

struct CTlsChannel::Session {
    SSL* ssl = nullptr;
    ~Session() {
        if (ssl != nullptr) {
            SSL_free(ssl);
        }
    }
};

namespace {

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
                                               FetchFailure* why) {
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
    const Step step = Classify(session_->ssl, result, reason_);
    // A peer that hangs up during the handshake has not answered at all.
    if (step == Step::kCut || step == Step::kClosed) {
        reason_ = "the server closed during the TLS handshake";
        return Step::kFailed;
    }
    return step;
}

CTlsChannel::Step CTlsChannel::Write(const char* data, std::size_t length, std::size_t& written) {
    written = 0;
    const int result = SSL_write_ex(session_->ssl, data, length, &written) == 1 ? 1 : 0;
    return result == 1 ? Step::kDone : Classify(session_->ssl, result, reason_);
}

CTlsChannel::Step CTlsChannel::Read(char* buffer, std::size_t capacity, std::size_t& read) {
    read = 0;
    const int result = SSL_read_ex(session_->ssl, buffer, capacity, &read) == 1 ? 1 : 0;
    return result == 1 ? Step::kDone : Classify(session_->ssl, result, reason_);
}

bool CTlsChannel::HasPending() const {
    return SSL_pending(session_->ssl) > 0;
}
