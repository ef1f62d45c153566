#pragma once

#include <memory>

#include "engine/cut_off.h"
#include "engine/fetch_failure.h"
#include "engine/http_request.h"
#include "engine/page_rules.h"
#include "engine/proxy_settings.h"
#include "engine/wait_limit.h"

// URL kinds.
inline constexpr int URL_NONE = 0;
inline constexpr int URL_HTTP = 1;   // begins with "http://"
inline constexpr int URL_HTTPS = 3;  // begins with "https://"

// The kind by the URL's case-sensitive prefix; a null URL is kind 0.
int GetUrlScheme(const char* url);

// Turns one URL into one local file over HTTP/1.0, plain or over TLS, directly or through the
// environment's proxy. Every worker calls Download on one shared object at the same time: the
// timeout, port and proxies are set before the workers start and only read afterwards; the
// cut-off is armed from the main thread at any time.
//
// Plain http sends exactly "GET <URL> HTTP/1.0" CR LF CR LF (through a proxy too, with a
// Proxy-Authorization line when the proxy URL names a user). https sends the origin form with a
// Host and a User-Agent line, through a CONNECT tunnel when a proxy is used.
class CConnectionPool;
class CWarcArchive;

class CHttpGetter {
  public:
    static constexpr int kDefaultPort = 80;

    CHttpGetter();
    ~CHttpGetter();
    CHttpGetter(const CHttpGetter&) = delete;
    CHttpGetter& operator=(const CHttpGetter&) = delete;

    // 1 stored, 0 failed, with the reason in `failure` when given. A URL that ParseUrl refuses
    // (another scheme, ftp:// included), or a path that does not fit the system's 260-byte
    // buffers, is refused without network traffic.
    // With `rules`, a page they mark missing fails as kMissingPage.
    int Download(const char* url, const char* path, FetchFailure* failure = nullptr,
                 const PageRules* rules = nullptr) const;
    // The same for a URL known to be http:// or https://.
    int HttpDownload(const char* url, const char* path, FetchFailure* failure = nullptr,
                     const PageRules* rules = nullptr) const;
    // The answer for `url` read into `sample` as far as PageRules::kBodySearched decoded bytes,
    // and no further: nothing is stored. 1 when it was a document that `rules` do not mark
    // missing, 0 otherwise, with the reason in `failure`.
    // With a larger `room`, as far as that many bytes (the whole page, when its length comes in).
    int Sample(const std::string& url, PageSample& sample, FetchFailure* failure,
               const PageRules* rules, std::size_t room = PageRules::kBodySearched) const;

    // Seconds: -1 no limit; positive: the limit of each single wait; anything else fails every
    // fetch at its send.
    void SetTimeout(int seconds) {
        timeout_ = seconds;
        limit_ = WaitLimit::FromDelaySeconds(seconds);
    }
    int GetTimeout() const { return timeout_; }
    // A limit of any length, for tests that would otherwise wait whole seconds.
    void SetWaitLimit(WaitLimit limit) { limit_ = limit; }
    // The port of http URLs that name none; 80 unless a test points the fetcher at a loopback
    // server.
    void SetPort(int port) { port_ = port; }
    // The same for https URLs: 443 unless a test says otherwise.
    void SetTlsPort(int port) { tlsPort_ = port; }
    // The proxies; read from the environment when the fetcher is made.
    void SetProxies(ProxySettings proxies) { proxies_ = std::move(proxies); }
    // Every fetch still in progress `grace` from now is then given up (its connection closed,
    // its document failed). A later call may bring that moment nearer, never put it off.
    void CutOffAfter(std::chrono::milliseconds grace) { cutOff_.ArmAfter(grace); }
    // The exchange for http:// and for https:// URLs: by default HTTP/1.0 for http, byte for
    // byte as it always was, and HTTP/1.1 over persistent connections for https. Each worker
    // thread keeps at most one idle connection per origin (scheme, host, port and proxy).
    void SetVersions(HttpVersion http, HttpVersion https) {
        httpVersion_ = http;
        httpsVersion_ = https;
    }

    // What the user adds to each request, and how many redirects the HTTP/1.1 exchange follows
    // on the same site: the same scheme, host and port, or http on its default port to https on
    // its default port. Set before the workers start.
    void SetOptions(HttpOptions options) { options_ = std::move(options); }
    // Every exchange from now on goes into `archive` as well (not owned; null: none), and a
    // document counts as stored only once its records are there. Set before the workers start.
    void SetArchive(CWarcArchive* archive) { archive_ = archive; }

  private:
    // Whether a redirect from `from` to `to` stays on the site (see HttpDownload).
    bool SameSite(const Url& from, const Url& to) const;
    // The fetch of `url`, redirects followed, into the file `path` or, without one, `sample`.
    int Fetch(const std::string& url, const char* path, PageSample* sample, FetchFailure* failure,
              const PageRules* rules, std::size_t room = 0) const;
    // One request and its answer for `url` (taken apart as `parsed`), on a kept connection when
    // one is there, into `path` or `sample`; 1 stored, 0 failed with the reason in `outcome`.
    int Exchange(const std::string& url, const Url& parsed, HttpVersion version, const char* path,
                 PageSample* sample, std::size_t room, const PageRules* rules,
                 FetchFailure& outcome) const;

    int timeout_ = -1;
    WaitLimit limit_ = WaitLimit::None();
    int port_ = kDefaultPort;
    int tlsPort_ = 443;
    ProxySettings proxies_;
    CCutOff cutOff_;
    HttpVersion httpVersion_ = HttpVersion::k10;
    HttpVersion httpsVersion_ = HttpVersion::k11;
    std::unique_ptr<CConnectionPool> idle_;  // the workers' kept connections
    HttpOptions options_;
    CWarcArchive* archive_ = nullptr;
};
