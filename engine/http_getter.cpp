#include "engine/http_getter.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/connection_pool.h"
#include "engine/http_request.h"
#include "engine/http_socket.h"
#include "support/text_format.h"

namespace {

int Refuse(FetchFailure* failure, const FetchFailure& why) {
    if (failure != nullptr) {
        *failure = why;
    }
    return 0;
}

// Connects the socket to the URL's server, or to the proxy and through it; 1 when the request
// can be sent.
int Reach(CHttpSocket& socket, const Url& url, int httpPort,
          const std::optional<ProxyServer>& proxy, WaitLimit limit) {
    const bool https = url.scheme == UrlScheme::kHttps;
    if (!proxy) {
        return socket.Connect(url.host.c_str(), url.PortOr(httpPort), limit) &&
               (!https || socket.StartTls(url.host, url.PortOr(httpPort), limit));
    }
    if (!socket.Connect(proxy->host.c_str(), proxy->port, limit)) {
        return 0;
    }
    if (!https) {
        return 1;
    }
    Url withPort = url;
    withPort.port = url.PortOr(httpPort);
    return socket.OpenTunnel(withPort.Authority(), proxy->authorization, limit) &&
           socket.StartTls(url.host, url.PortOr(httpPort), limit);
}

// Scheme, host, port and proxy: what a kept connection must match to carry a request.
std::string OriginOf(const Url& url, int httpPort, const std::optional<ProxyServer>& proxy) {
    std::string origin = (url.scheme == UrlScheme::kHttps ? "https://" : "http://") + url.host +
                         ":" + std::to_string(url.PortOr(httpPort));
    if (proxy) {
        origin +=
            " via " + proxy->host + ":" + std::to_string(proxy->port) + " " + proxy->authorization;
    }
    return origin;
}

// What a kept connection that the server closed while it was idle fails with.
bool ConnectionWentAway(const FetchFailure& failure) {
    return failure.error == FetchError::kClosedBeforeAnswer ||
           failure.error == FetchError::kReceive || failure.error == FetchError::kSend ||
           failure.error == FetchError::kTlsCut;
}

}  // namespace

CHttpGetter::CHttpGetter()
    : proxies_(ProxySettings::FromEnvironment()), idle_(std::make_unique<CConnectionPool>()) {}

CHttpGetter::~CHttpGetter() = default;

int GetUrlScheme(const char* url) {
    if (url == nullptr) {
        return URL_NONE;
    }
    if (std::strncmp(url, "http://", 7) == 0) {
        return URL_HTTP;
    }
    if (std::strncmp(url, "https://", 8) == 0) {
        return URL_HTTPS;
    }
    return URL_NONE;
}

int CHttpGetter::Download(const char* url, const char* path, FetchFailure* failure) const {
    switch (GetUrlScheme(url)) {
        case URL_HTTP:
        case URL_HTTPS:
            return HttpDownload(url, path, failure);
        default:
            // ftp:// included: no FTP client is part of this program, so nothing is stored.
            return Refuse(failure, {FetchError::kNotHttp});
    }
}

int CHttpGetter::HttpDownload(const char* url, const char* path, FetchFailure* failure) const {
    if (url == nullptr || path == nullptr) {
        return Refuse(failure, {FetchError::kNotHttp});
    }
    if (std::strlen(path) >= kPathBufferSize) {
        return Refuse(failure, {FetchError::kNameTooLong});
    }
    FetchFailure why;
    const std::optional<Url> parsed = ParseUrl(url, &why);
    if (!parsed) {
        return Refuse(failure, why);
    }
    const std::optional<ProxyServer> proxy = proxies_.For(*parsed);
    if (proxy && !proxy->problem.empty()) {
        return Refuse(failure, {FetchError::kProxyConnect, 0, proxy->problem});
    }
    const HttpVersion version = parsed->scheme == UrlScheme::kHttps ? httpsVersion_ : httpVersion_;
    const std::string request = DocumentRequest(url, *parsed, proxy, version).Bytes();
    const bool persistent = version == HttpVersion::k11;
    const std::string origin = persistent ? OriginOf(*parsed, port_, proxy) : std::string();
    std::unique_ptr<CHttpSocket> socket = persistent ? idle_->Take(origin) : nullptr;
    int result = 0;
    bool received = false;  // an answer was read to its end or its failure on this connection
    for (;;) {
        const bool reused = socket != nullptr;
        if (!reused) {
            socket = std::make_unique<CHttpSocket>();
        }
        socket->SetCutOff(&cutOff_);
        socket->BeginExchange();
        bool answered = false;
        received = false;
        if ((reused || Reach(*socket, *parsed, port_, proxy, limit_)) &&
            socket->Send(request.data(), static_cast<int>(request.size()), limit_)) {
            result = socket->ReceiveResponse(path, limit_);
            received = true;
            answered = socket->AnswerStarted();
        }
        // A kept connection that the server closed meanwhile fails before its answer begins:
        // the request goes once more, on a new connection. That is neither a failure nor a
        // second document.
        if (result == 1 || !reused || answered || !ConnectionWentAway(socket->Failure())) {
            break;
        }
        socket.reset();
    }
    FetchFailure outcome = result == 1 ? FetchFailure{} : socket->Failure();
    if (persistent && received && socket->Reusable()) {
        idle_->Keep(origin, std::move(socket));
    } else {
        socket->Close();
    }
    // A proxy that cannot be reached is not the site's fault: say which one failed.
    if (proxy && outcome.error == FetchError::kConnect) {
        outcome = {FetchError::kProxyConnect, 0, net::ErrorText(outcome.detail)};
    } else if (proxy && outcome.error == FetchError::kNoSuchHost) {
        outcome = {FetchError::kProxyConnect, 0, "no such host"};
    }
    if (failure != nullptr) {
        *failure = outcome;
    }
    return result;
}
