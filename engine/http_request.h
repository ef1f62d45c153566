#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/proxy_settings.h"
#include "engine/url.h"

// One request as data: a method, a target, a version and header lines in order. The modes of
// the exchange choose these values; the bytes are made in one place, Bytes().
struct HttpRequest {
    std::string method = "GET";
    std::string target;  // "/path", an absolute URL, or "host:port" for CONNECT
    std::string version = "HTTP/1.0";
    std::vector<std::pair<std::string, std::string>> headers;

    void Add(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
    }
    // "<method> <target> <version>" CR LF, each "Name: value" CR LF, then CR LF.
    std::string Bytes() const;
};

// Which exchange a document is fetched with: HTTP/1.0, one connection each, or HTTP/1.1 over
// persistent connections.
enum class HttpVersion { k10, k11 };

class CCookieJar;

// What the user adds to the requests of a run, and how far a redirect may lead.
struct HttpOptions {
    static constexpr int kDefaultMaxRedirects = 5;
    static constexpr int kMostRedirects = 20;

    std::string userAgent;  // empty: "NOVUDownLoad/<version>"
    std::vector<std::pair<std::string, std::string>> headers;
    int maxRedirects = kDefaultMaxRedirects;  // followed in the HTTP/1.1 exchange only
    // The largest document stored, counted after decoding; a larger one fails.
    static constexpr int kDefaultMaxDocumentMib = 256;
    static constexpr int kMostDocumentMib = 1 << 20;
    std::int64_t maxDocumentBytes = std::int64_t{kDefaultMaxDocumentMib} << 20;
    std::shared_ptr<CCookieJar> cookies;  // none: no Cookie sent, no Set-Cookie kept
    std::string cookieFile;               // the file the cookies were read from
};

// "Name: value" as a header line a user may add; none, with the reason in `why`, for one
// without a colon or a name, with a CR, LF or other control byte, or one that the exchange
// itself writes (Host, Content-Length, Transfer-Encoding, Connection).
std::optional<std::pair<std::string, std::string>> ParseHeaderLine(std::string_view line,
                                                                   std::string* why = nullptr);

// The request for one document. HTTP/1.0 over plain http: the whole URL as target and no header
// but a proxy's credentials and what the user configured, so that with nothing configured
// "GET <URL> HTTP/1.0" CR LF CR LF reaches a site as it always did. Otherwise the origin form
// (the whole URL to an http proxy) with Host and User-Agent, inside the tunnel when an https
// request goes through a proxy; HTTP/1.1 asks for gzip. The user's headers come last, before
// `cookie` (the Cookie field's value, when not empty); a User-Agent or Accept-Encoding of theirs
// replaces the program's.
HttpRequest DocumentRequest(const std::string& url, const Url& parsed,
                            const std::optional<ProxyServer>& proxy, HttpVersion version,
                            const HttpOptions& options = {}, const std::string& cookie = {});

// A proxy's tunnel to `authority` ("host:port"), with its credentials when given.
HttpRequest TunnelRequest(const std::string& authority, const std::string& authorization);
