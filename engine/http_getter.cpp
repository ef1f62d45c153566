#include "engine/http_getter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/connection_pool.h"
#include "engine/cookie_jar.h"
#include "engine/http_request.h"
#include "engine/http_socket.h"
#include "engine/warc_archive.h"
#include "support/debug_log.h"
#include "support/text_format.h"

namespace {

int Refuse(FetchFailure* failure, const FetchFailure& why) {
    if (failure != nullptr) {
        *failure = why;
    }
    return 0;
}

// Connects the socket to the URL's server at `port`, or to the proxy and through it; 1 when the
// request can be sent.
int Reach(CHttpSocket& socket, const Url& url, int port, const std::optional<ProxyServer>& proxy,
          WaitLimit limit) {
    const bool https = url.scheme == UrlScheme::kHttps;
    if (!proxy) {
        return socket.Connect(url.host.c_str(), port, limit) &&
               (!https || socket.StartTls(url.host, port, limit));
    }
    if (!socket.Connect(proxy->host.c_str(), proxy->port, limit)) {
        return 0;
    }
    if (!https) {
        return 1;
    }
    Url withPort = url;
    withPort.port = port;
    return socket.OpenTunnel(withPort.Authority(), proxy->authorization, limit) &&
           socket.StartTls(url.host, port, limit);
}

// Scheme, host, port and proxy: what a kept connection must match to carry a request.
std::string OriginOf(const Url& url, int port, const std::optional<ProxyServer>& proxy) {
    std::string origin = (url.scheme == UrlScheme::kHttps ? "https://" : "http://") + url.host +
                         ":" + std::to_string(port);
    if (proxy) {
        origin +=
            " via " + proxy->host + ":" + std::to_string(proxy->port) + " " + proxy->authorization;
    }
    return origin;
}

// What a kept connection fails with, before an answer began, when the server closed it while it
// was idle, or when it holds bytes that belong to no answer of ours.
bool ConnectionWentAway(const FetchFailure& failure) {
    switch (failure.error) {
        case FetchError::kClosedBeforeAnswer:
        case FetchError::kReceive:
        case FetchError::kSend:
        case FetchError::kTlsCut:
        case FetchError::kBadStatusLine:
        case FetchError::kNoHeaderEnd:
        case FetchError::kHeaderTooLong:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool CHttpGetter::SameSite(const Url& from, const Url& to) const {
    // A site is its origin: scheme, host and port. The one change allowed is http on its default
    // port to https on its default port, which is how sites move to https; any other port may
    // be another server, which must not receive the user's headers and cookies.
    if (!EqualsNoCase(to.host, LowerCase(from.host))) {
        return false;
    }
    if (to.scheme == from.scheme) {
        return to.PortOr(port_, tlsPort_) == from.PortOr(port_, tlsPort_);
    }
    return from.scheme == UrlScheme::kHttp && from.PortOr(port_) == port_ &&
           to.PortOr(port_, tlsPort_) == tlsPort_;
}

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

int CHttpGetter::Download(const char* url, const char* path, FetchFailure* failure,
                          const PageRules* rules) const {
    switch (GetUrlScheme(url)) {
        case URL_HTTP:
        case URL_HTTPS:
            return HttpDownload(url, path, failure, rules);
        default:
            // ftp:// included: no FTP client is part of this program, so nothing is stored.
            return Refuse(failure, {FetchError::kNotHttp});
    }
}

int CHttpGetter::HttpDownload(const char* url, const char* path, FetchFailure* failure,
                              const PageRules* rules) const {
    if (url == nullptr || path == nullptr) {
        return Refuse(failure, {FetchError::kNotHttp});
    }
    if (std::strlen(path) >= kPathBufferSize) {
        return Refuse(failure, {FetchError::kNameTooLong});
    }
    return Fetch(url, path, nullptr, failure, rules);
}

int CHttpGetter::Sample(const std::string& url, PageSample& sample, FetchFailure* failure,
                        const PageRules* rules, std::size_t room) const {
    return Fetch(url, nullptr, &sample, failure, rules, room);
}

int CHttpGetter::Fetch(const std::string& url, const char* path, PageSample* sample,
                       FetchFailure* failure, const PageRules* rules, std::size_t room) const {
    FetchFailure outcome;
    std::string current = url;
    std::vector<std::string> chain;  // the URLs asked for, when a redirect was followed
    int result = 0;
    for (;;) {
        const std::optional<Url> parsed = ParseUrl(current, &outcome);
        if (!parsed) {
            break;
        }
        const HttpVersion version =
            parsed->scheme == UrlScheme::kHttps ? httpsVersion_ : httpVersion_;
        result = Exchange(current, *parsed, version, path, sample, room, rules, outcome);
        if (result == 1 || outcome.error != FetchError::kStatus || !IsRedirect(outcome.detail) ||
            outcome.text.empty()) {
            break;
        }
        // Told as an absolute URL, and only when it could be one: a hostile Location must not
        // carry control bytes into a report.
        std::string otherScheme;
        const std::optional<std::string> resolved =
            ResolveLocation(*parsed, outcome.text, &otherScheme);
        const std::string target = resolved.value_or(std::string());
        outcome.text = HasUnsafeUrlBytes(target) ? std::string() : target;
        // The HTTP/1.0 exchange follows no redirect: its reason names the target instead, so
        // that the user can see which base URL to use. Nor is a login page a document.
        if (version == HttpVersion::k10 || (resolved && outcome.text.empty()) ||
            LooksLikeLogin(target)) {
            break;
        }
        if (!resolved) {
            outcome = {FetchError::kRedirectScheme, 0, otherScheme};
            break;
        }
        FetchFailure refused;
        const std::optional<Url> next = ParseUrl(target, &refused);
        if (!next) {
            outcome = refused.error == FetchError::kNameTooLong
                          ? FetchFailure{FetchError::kRedirectTooLong,
                                         static_cast<int>(
                                             std::min<std::size_t>(target.size(), INT32_MAX))}
                          : FetchFailure{FetchError::kRedirectedAway, 0, target};
            break;
        }
        if (!SameSite(*parsed, *next)) {
            outcome = {FetchError::kRedirectedAway, 0, target};
            break;
        }
        chain.push_back(current);
        if (static_cast<int>(chain.size()) > options_.maxRedirects ||
            std::find(chain.begin(), chain.end(), target) != chain.end()) {
            outcome = {FetchError::kTooManyRedirects};
            break;
        }
        current = target;
    }
    if (!chain.empty()) {
        std::string trail;
        for (const std::string& step : chain) {
            trail += step + " -> ";
        }
        WriteDebugLog("redirected: %s%s (%s)", trail.c_str(), current.c_str(),
                      DescribeFetchFailure(outcome).c_str());
    }
    if (failure != nullptr) {
        *failure = outcome;
    }
    return result;
}

int CHttpGetter::Exchange(const std::string& url, const Url& parsed, HttpVersion version,
                          const char* path, PageSample* sample, std::size_t room,
                          const PageRules* rules, FetchFailure& outcome) const {
    const std::optional<ProxyServer> proxy = proxies_.For(parsed);
    if (proxy && !proxy->problem.empty()) {
        outcome = {FetchError::kProxyConnect, 0, proxy->problem};
        return 0;
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::string cookie = options_.cookies ? options_.cookies->HeaderFor(parsed, now) : "";
    const std::string request =
        DocumentRequest(url, parsed, proxy, version, options_, cookie).Bytes();
    const bool persistent = version == HttpVersion::k11;
    const int port = parsed.PortOr(port_, tlsPort_);
    const std::string origin = persistent ? OriginOf(parsed, port, proxy) : std::string();
    std::unique_ptr<CHttpSocket> socket = persistent ? idle_->Take(origin) : nullptr;
    // What a server sent on an idle connection (a second answer, bytes past a body's length, its
    // close) would pass for the answer to the next request: such a connection goes.
    if (socket && !socket->QuietWhileIdle()) {
        socket->Close();
        socket.reset();
    }
    std::optional<WireTape> tape;
    if (archive_ != nullptr) {
        tape.emplace(archive_->Folder());
        tape->uri = url;
        tape->httpProtocol = persistent ? "http/1.1" : "http/1.0";
    }
    int result = 0;
    bool received = false;  // an answer was read to its end or its failure on this connection
    for (;;) {
        const bool reused = socket != nullptr;
        if (!reused) {
            socket = std::make_unique<CHttpSocket>();
        }
        socket->SetCutOff(&cutOff_);
        socket->SetDocumentLimit(options_.maxDocumentBytes);
        socket->BeginExchange();
        bool answered = false;
        received = false;
        if (reused || Reach(*socket, parsed, port, proxy, limit_)) {
            // The tape begins after a tunnel's CONNECT: the archive keeps what the site saw.
            if (tape) {
                tape->Restart();
                tape->date = std::chrono::system_clock::now();
                socket->SetTape(&*tape);
            }
            if (socket->Send(request.data(), static_cast<int>(request.size()), limit_)) {
                result = sample != nullptr
                             ? socket->SampleResponse(*sample, limit_, rules, url, room)
                             : socket->ReceiveResponse(path, limit_, rules, url);
                received = true;
                answered = socket->AnswerStarted();
            }
            socket->SetTape(nullptr);
        }
        // A kept connection that the server closed meanwhile fails before its answer begins:
        // the request goes once more, on a new connection. That is neither a failure nor a
        // second document.
        if (result == 1 || !reused || answered || !ConnectionWentAway(socket->Failure())) {
            break;
        }
        socket.reset();
    }
    if (options_.cookies && received) {
        for (const std::string& setCookie : socket->SetCookies()) {
            options_.cookies->Take(parsed, setCookie, now);
        }
    }
    outcome = result == 1 ? FetchFailure{} : socket->Failure();
    if (tape) {
        if (const Status kept = archive_->Keep(*tape); !kept.IsOk()) {
            // A document whose exchange is not in the archive is not stored yet.
            result = 0;
            outcome = {FetchError::kWriteError,
                       kept.SystemErrorNumber() != 0 ? kept.SystemErrorNumber() : EIO};
        }
    }
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
    return result;
}
